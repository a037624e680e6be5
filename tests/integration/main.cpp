// Integration tests run in a QApplication (offscreen unless told otherwise), with XDG folders of
// their own; the peers they talk to are started by the tests themselves (tests/lab).
#include "rtc/linphone/LinphoneClient.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/run").toUtf8());
    // Nothing here reaches the desktop's keyring: a session bus nobody listens on, unless this is
    // a child run inside a keyring of its own (tests/lab/keyring.py) or with no bus at all.
    if (!qEnvironmentVariableIsSet("ORVANE_KEYRING_MODE"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home.path() + "/run/no-bus").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the program does: the engine's one-time set-up starts on a thread before anything else.
    PrepareLinphoneClient();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

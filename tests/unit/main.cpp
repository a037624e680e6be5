// Unit tests run in a QApplication on the offscreen platform, with XDG folders of their own.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/run").toUtf8());
    // Nothing here reaches the desktop's keyring: a session bus nobody listens on (a test that
    // wants a keyring starts its own).
    qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + home.path() + "/run/no-bus").toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The real main window over the real engine, against real peers on 127.0.0.1: kamailio as
// registrar and proxy, SIPp as the far end, a local HTTPS billing server with its own CA and a
// private PulseAudio server as the sound card. Message boxes are recorded instead of shown.
#pragma once

#include "fakes/FakeSecretStore.h"
#include "fakes/FakeServices.h"
#include "history/CallRecords.h"
#include "history/Login.h"
#include "lab/HttpsServer.h"
#include "lab/Kamailio.h"
#include "lab/Sipp.h"
#include "mainwindow/KestuSoftPhoneDlg.h"
#include "platform/Clock.h"
#include "platform/HttpsClient.h"

#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace windowtest {

// The main window, remembering every text its controls were given, in order.
class RecordingWindow : public CKestuSoftPhoneDlg {
public:
    using CKestuSoftPhoneDlg::CKestuSoftPhoneDlg;
    void setText(int id, const QString& text) override {
        texts[id] << text;
        CKestuSoftPhoneDlg::setText(id, text);
    }
    QMap<int, QStringList> texts;
};

// A password with every character that means something in XML.
inline const QString kSpecialUser = QStringLiteral("carol");
inline const QString kSpecialPassword = QStringLiteral("p&<>\"'w");

class WindowTest : public ::testing::Test {
public:
    // Types into the login window and confirms with Enter.
    static void typeLogin(CLogin* w, const QString& user, const QString& password, bool save = false);
    // Logs in as the lab's first subscriber.
    static void loginAlice(CLogin* w) { typeLogin(w, "alice", "alice-secret"); }

protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A new main window (the old one, if any, is destroyed first).
    RecordingWindow& newWindow();
    // Runs the window: `login` drives the start-up login window (it must end it), then `body`
    // runs while the window runs; the window is ended afterwards. Returns DoModal's result.
    int run(const std::function<void(CLogin*)>& login, const std::function<void()>& body);
    bool waitText(int id, const QString& text, int timeoutMs = 8000);
    bool waitFor(const std::function<bool()>& pred, int timeoutMs = 8000);
    QStringList records(CallKind kind) const;
    void click(int id);
    QString status(int id) const;

    static inline int uasPort = 0;
    static inline std::unique_ptr<lab::Kamailio> kamailio;
    static inline std::unique_ptr<lab::HttpsServer> billing;
    static inline bool labReady = false;

    QTemporaryDir dir;
    fake::MessageBoxes box;
    // The desktop's keyring, kept for the whole test like the machine's would be (the real one
    // is met in test_keychain_store.cpp and tests/gui/keyring_test.py).
    fake::SecretStore keyring;
    SystemClock clock;
    std::unique_ptr<CurlHttpsClient> https;
    std::unique_ptr<RecordingWindow> window;
    int enginePort = 0;
};

} // namespace windowtest

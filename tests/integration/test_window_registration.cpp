// Logging in through the real login and main windows: registration with kamailio's digest
// authentication, rejection, log-off, the balance from the HTTPS billing server, the saved login.
#include "integration/window_lab.h"
#include "lab/Sipp.h"

#include "phone/ControlIds.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>

using namespace windowtest;

TEST_F(WindowTest, RightPasswordRegistersShowsTheUserAndTheBalance) {
    const int result =
        run([](CLogin* w) { typeLogin(w, "alice", "alice-secret"); },
            [&] {
                ASSERT_TRUE(waitText(ctl::RegStatus, "Ready to call..."))
                    << status(ctl::RegStatus).toStdString();
                EXPECT_EQ(window->texts[ctl::RegStatus], (QStringList{"Registering...", "Ready to call..."}));
                EXPECT_EQ(status(ctl::LoggedInUser), "alice");
                EXPECT_TRUE(waitText(ctl::Balance, "Balance: 12.50EUR"));
                EXPECT_TRUE(window->control(ctl::Balance)->isVisible());
                EXPECT_FALSE(window->control(ctl::UserNameField)->isEnabled());
                EXPECT_TRUE(window->control(ctl::Pickup)->isEnabled());
                const auto q = billing->lastQuery();
                EXPECT_EQ(q.login, QStringList{"alice"});
                EXPECT_EQ(q.pwd, QStringList{"alice-secret"});

                // Log off through the login/log-off command.
                window->texts.clear();
                click(ctl::LoginLogoff);
                ASSERT_TRUE(waitText(ctl::RegStatus, "Logged off..."));
                EXPECT_EQ(window->texts[ctl::RegStatus], (QStringList{"Logging off...", "Logged off..."}));
                EXPECT_EQ(window->phone().st.registered, 0);
                EXPECT_TRUE(window->control(ctl::UserNameField)->isEnabled());
                EXPECT_FALSE(window->control(ctl::Pickup)->isEnabled());
            });
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(box.shown.isEmpty()) << box.texts().join("|").toStdString();
}

TEST_F(WindowTest, WrongPasswordIsRejectedAndTheFieldsOpenAgain) {
    run([](CLogin* w) { typeLogin(w, "alice", "not-her-password"); },
        [&] {
            ASSERT_TRUE(waitText(ctl::RegStatus, "Rejected..."));
            EXPECT_EQ(window->texts[ctl::RegStatus].first(), "Registering...");
            EXPECT_TRUE(window->control(ctl::UserNameField)->isEnabled());
            EXPECT_TRUE(window->control(ctl::PasswordField)->isEnabled());
            EXPECT_FALSE(window->control(ctl::Pickup)->isEnabled());
            EXPECT_EQ(window->phone().st.registered, 0);
            // It stays rejected: no retry turns it into something else.
            waitFor([] { return false; }, 3000);
            EXPECT_EQ(status(ctl::RegStatus), "Rejected...");
            EXPECT_TRUE(status(ctl::Balance).isEmpty());
        });
}

TEST_F(WindowTest, XmlSpecialCharactersInThePasswordReachTheServerUnchanged) {
    run([](CLogin* w) { typeLogin(w, kSpecialUser, kSpecialPassword); },
        [&] {
            ASSERT_TRUE(waitText(ctl::RegStatus, "Ready to call..."))
                << status(ctl::RegStatus).toStdString() << " " << box.texts().join("|").toStdString();
            // The balance query carries them percent-encoded; the server decodes exactly them.
            ASSERT_TRUE(waitFor([&] { return billing->lastQuery().login == QStringList{kSpecialUser}; }));
            const auto q = billing->lastQuery();
            EXPECT_EQ(q.login, QStringList{kSpecialUser});
            EXPECT_EQ(q.pwd, QStringList{kSpecialPassword});
            EXPECT_FALSE(q.raw.contains('"'));
        });
}

TEST_F(WindowTest, BillingServerDownSaysSoWithinTheTimeOut) {
    billing->stop();
    QElapsedTimer registeredAt;
    run([](CLogin* w) { typeLogin(w, "bob", "bob-secret"); },
        [&] {
            ASSERT_TRUE(waitFor([&] { return !window->texts[ctl::RegStatus].isEmpty(); }));
            registeredAt.start();
            ASSERT_TRUE(waitFor([&] { return box.texts().contains("Error in OpenURL"); }, 15000));
            EXPECT_LT(registeredAt.elapsed(), 8000);
            EXPECT_EQ(box.texts(), (QStringList{"Received Exception from OpenURL()", "Error in OpenURL"}));
            EXPECT_EQ(status(ctl::RegStatus), "Ready to call...");
            EXPECT_TRUE(status(ctl::Balance).isEmpty());
        });
    ASSERT_TRUE(billing->start(QStringLiteral("12.50"), QStringLiteral("EUR")));
    window.reset(); // it uses the client replaced here
    https = std::make_unique<CurlHttpsClient>(billing->caFile());
}

TEST_F(WindowTest, ABillingServerThatDoesNotAnswerHoldsUpNothing) {
    lab::HttpsServer hanging; // signed by the same test CA as the usual one
    hanging.setStalling(true);
    ASSERT_TRUE(hanging.start()) << hanging.error().toStdString();
    newWindow();
    window->phone().config.billingHost = hanging.host();
    lab::Sipp caller;
    run([](CLogin* w) { typeLogin(w, "alice", "alice-secret"); },
        [&] {
            ASSERT_TRUE(waitText(ctl::RegStatus, "Ready to call..."));
            // The balance query now waits for its time-out; meanwhile the window keeps turning its
            // event loop and a call coming in rings at once.
            QElapsedTimer loop;
            loop.start();
            qint64 last = 0, longest = 0;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] {
                longest = qMax(longest, loop.elapsed() - last);
                last = loop.elapsed();
            });
            tick.start(10);
            lab::SippOptions o;
            o.scenario = QStringLiteral("uac_cancel.xml");
            o.remote = kamailio->address();
            o.service = QStringLiteral("alice");
            o.timeoutSec = 20;
            ASSERT_TRUE(caller.start(o));
            EXPECT_TRUE(waitText(ctl::CallStatus, "Incoming...5551000", 3000))
                << caller.errors().toStdString();
            EXPECT_TRUE(box.shown.isEmpty()); // the query is still waiting
            waitFor([] { return false; }, 1500);
            tick.stop();
            EXPECT_LT(longest, 250) << "the event loop stood still for " << longest << " ms";

            // The query's failure is told as before, in its order, once it times out.
            ASSERT_TRUE(waitFor([&] { return box.texts().contains("Error in OpenURL"); }, 15000));
            EXPECT_EQ(box.texts().mid(0, 2),
                      (QStringList{"Received Exception from OpenURL()", "Error in OpenURL"}));
            EXPECT_EQ(caller.waitForExit(15000), 0) << caller.errors().toStdString();
        });
}

TEST_F(WindowTest, SavedLoginIsReadBackOnTheNextStart) {
    run([](CLogin* w) { typeLogin(w, "alice", "alice-secret", true); },
        [&] {
            ASSERT_TRUE(waitText(ctl::RegStatus, "Ready to call..."));
            // Registered: the password leaves the settings file for the keyring.
            EXPECT_TRUE(waitFor([&] { return QSettings("Kestu", "SoftPhone").value("Password1") == ""; }));
            EXPECT_EQ(keyring.entries.value("alice"), "alice-secret");
        });

    newWindow();
    QString user, password;
    bool saved = false;
    const int result = run(
        [&](CLogin* w) {
            user = w->text(loginctl::UserName);
            password = w->text(loginctl::Password);
            saved = w->isSaveChecked();
            w->reject();
        },
        [] {});
    EXPECT_EQ(result, 2); // cancelling the start-up login ends the program
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "alice-secret");
    EXPECT_TRUE(saved);
}

// The real main window and login window on the offscreen platform, over the scripted engine:
// start-up with the login window, controls and their places, keys, posted engine events,
// timers and the close button.
#include "fakes/FakeServices.h"
#include "fakes/Modal.h"
#include "history/Login.h"
#include "mainwindow/AboutDlg.h"
#include "mainwindow/ControlIds.h"
#include "mainwindow/KestuSoftPhoneDlg.h"
#include "mainwindow/MainTemplate.h"
#include "skin/BitmapButton.h"
#include "skin/DialogUnits.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

struct Window {
    QTemporaryDir dir;
    MessageBoxes box;
    Sounds sound;
    Clock clock;
    Https https;
    ComPtr<FakeClient> client{new FakeClient};
    std::unique_ptr<CKestuSoftPhoneDlg> dlg;
    QStringList opened;

    Window() {
        QSettings("Kestu", "SoftPhone").clear();
        MainWindowServices s;
        s.engineFactory = [this](IRTCClient** out) {
            *out = ComPtr<IRTCClient>(client.get()).detach();
            return S_OK;
        };
        s.https = &https;
        s.clock = &clock;
        s.box = &box;
        s.sound = &sound;
        s.historyDir = dir.path();
        s.config.sipServer = "sip.example.net";
        s.openUrl = [this](const QString& url) { opened << url; };
        dlg = std::make_unique<CKestuSoftPhoneDlg>(s);
    }
    ~Window() {
        if (dlg && dlg->isVisible())
            dlg->done(0);
    }
    // Runs the start-up; the login window is filled by `login` (or cancelled when it is empty).
    // Returns what DoModal returned, once the window runs (or at once when it never does).
    int start(std::function<void(CLogin*)> login, std::function<void()> whileRunning = nullptr) {
        whenModal<CLogin>([login](CLogin* w) {
            if (login)
                login(w);
            else
                w->reject();
        });
        if (whileRunning) {
            QTimer::singleShot(0, [this, whileRunning] {
                whenModal<CKestuSoftPhoneDlg>([whileRunning](CKestuSoftPhoneDlg*) { whileRunning(); });
            });
        }
        return dlg->DoModal();
    }
    QLineEdit* edit(int id) const { return qobject_cast<QLineEdit*>(dlg->control(id)); }
    void raise(RTC_EVENT type, IUnknown* e) { client->raise(type, e); }
};

void TypeLogin(CLogin* w, const QString& user, const QString& password) {
    QTest::keyClicks(w->control(loginctl::UserName), user);
    QTest::keyClicks(w->control(loginctl::Password), password);
    QTest::keyClick(w->control(loginctl::Password), Qt::Key_Return);
}

} // namespace

TEST(MainWindow, CancellingTheStartUpLoginEndsTheProgramWithoutShowingTheWindow) {
    Window w;
    EXPECT_EQ(w.start(nullptr), 2);
    EXPECT_FALSE(w.dlg->isVisible());
    EXPECT_FALSE(w.client->calls.contains("CreateProfile"));
}

TEST(MainWindow, StartUpLoginRegistersAndEventsDriveTheDisplay) {
    Window w;
    int result =
        w.start([](CLogin* l) { TypeLogin(l, "  alice ", "alice-secret"); },
                [&] {
                    EXPECT_EQ(w.dlg->windowTitle(), "Orvane Softphone");
                    EXPECT_TRUE(w.dlg->windowFlags() & Qt::FramelessWindowHint);
                    // The login copied the trimmed entries and the default server.
                    EXPECT_EQ(w.edit(ctl::UserNameField)->text(), "alice");
                    EXPECT_EQ(w.edit(ctl::ServerField)->text(), "sip.example.net");
                    EXPECT_TRUE(w.client->calls.contains("EnableProfile(7)"));
                    EXPECT_TRUE(w.client->lastProfileXml.contains("uri=\"alice@sip.example.net\""));

                    // Engine events arrive posted, on this thread, in order.
                    ComPtr<FakeRegEvent> registering(new FakeRegEvent(RTCRS_REGISTERING));
                    ComPtr<FakeRegEvent> registered(new FakeRegEvent(RTCRS_REGISTERED));
                    w.raise(RTCE_REGISTRATION_STATE_CHANGE, registering.get());
                    w.raise(RTCE_REGISTRATION_STATE_CHANGE, registered.get());
                    EXPECT_EQ(w.dlg->text(ctl::RegStatus), "Not Registered");
                    EXPECT_TRUE(waitFor([&] { return w.dlg->text(ctl::RegStatus) == "Ready to call..."; }));
                    EXPECT_EQ(w.dlg->text(ctl::LoggedInUser), "alice");
                    EXPECT_EQ(w.dlg->text(ctl::Balance), "Balance: 12.50EUR");
                    EXPECT_FALSE(w.edit(ctl::UserNameField)->isEnabled());
                    EXPECT_EQ(registered->refCount(), 1u); // the message's reference was given back

                    // Enter and Escape never close the window.
                    QTest::keyClick(w.dlg.get(), Qt::Key_Escape);
                    EXPECT_TRUE(w.dlg->isVisible());
                    w.dlg->close();
                    EXPECT_TRUE(w.dlg->isVisible());

                    w.dlg->control(ctl::Cross)->setEnabled(true);
                    QTest::mouseClick(w.dlg->control(ctl::Cross), Qt::LeftButton);
                });
    EXPECT_EQ(result, 1);
    // Closing while registered logged off first.
    EXPECT_EQ(w.client->calls.filter("DisableProfile").size(), 1);
}

TEST(MainWindow, ControlsSitAtTheirPlacesWithTheirTooltipsAndImages) {
    Window w;
    w.start(nullptr);
    for (const ControlDef& def : MainTemplate()) {
        QWidget* c = w.dlg->control(def.id);
        ASSERT_NE(c, nullptr) << def.id;
        EXPECT_EQ(c->pos(), dlu::rect(def.x, def.y, def.w, def.h).topLeft()) << def.id;
        if (def.tooltip) {
            EXPECT_EQ(c->toolTip(), QString::fromLatin1(def.tooltip)) << def.id;
        }
    }
    auto* pickup = qobject_cast<CBitmapButton*>(w.dlg->control(ctl::Pickup));
    ASSERT_TRUE(pickup);
    EXPECT_EQ(pickup->size(), QSize(65, 40)); // sized to its up image
    EXPECT_EQ(qobject_cast<CBitmapButton*>(w.dlg->control(ctl::One))->size(), QSize(36, 32));
    EXPECT_EQ(w.dlg->control(ctl::NumberField)->font().family(), "ArialBlack");
    EXPECT_EQ(w.dlg->control(ctl::RegStatus)->font().pixelSize(), 13);
    EXPECT_EQ(w.dlg->text(ctl::RegStatus), "Not Registered");
    EXPECT_FALSE(w.dlg->control(ctl::ServerField)->isVisible() && w.dlg->isVisible());
}

TEST(MainWindow, AboutEntryOpensTheAboutBoxWhoseOkClosesOnlyIt) {
    Window w;
    bool aboutSeen = false;
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                QAction* about = w.dlg->findChild<QAction*>("aboutAction");
                ASSERT_TRUE(about);
                EXPECT_EQ(about->text(), "&About KestuSoftPhone...");
                whenModal<CAboutDlg>([&](CAboutDlg* box) {
                    aboutSeen = true;
                    EXPECT_EQ(box->windowTitle(), "About KestuSoftPhone");
                    QTest::keyClick(box, Qt::Key_Return);
                });
                about->trigger();
                EXPECT_TRUE(w.dlg->isVisible());
                w.dlg->done(0);
            });
    EXPECT_TRUE(aboutSeen);
}

TEST(MainWindow, KeyboardDigitsSendDtmfAndLandInTheNumberField) {
    Window w;
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                w.dlg->activateWindow();
                QLineEdit* number = w.edit(ctl::NumberField);
                number->setFocus();
                w.client->calls.clear();
                QTest::keyClicks(number, "12");
                QTest::keyClick(number, Qt::Key_3, Qt::ShiftModifier);
                EXPECT_EQ(w.client->calls.filter("SendDTMF"),
                          (QStringList{"SendDTMF(1)", "SendDTMF(2)", "SendDTMF(3)"}));
                EXPECT_EQ(w.sound.played.mid(w.sound.played.size() - 3),
                          (QStringList{"Dtmf-1.wav", "Dtmf-2.wav", "Dtmf-3.wav"}));
                EXPECT_TRUE(number->text().startsWith("12"));

                // A digit typed while the user name field has the focus only moves the focus.
                QLineEdit* user = w.edit(ctl::UserNameField);
                user->setEnabled(true);
                user->setFocus();
                const QString before = user->text();
                QTest::keyClick(user, Qt::Key_7);
                EXPECT_EQ(user->text(), before + "7"); // the key still reached its control
                EXPECT_EQ(w.dlg->focusWidget(), number);
                w.dlg->done(0);
            });
}

TEST(MainWindow, DialPadButtonsAndIncomingCallFlashing) {
    Window w;
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                for (int id : {ctl::Four, ctl::Zero, ctl::Two, ctl::One})
                    QTest::mouseClick(w.dlg->control(id), Qt::LeftButton);
                EXPECT_EQ(w.edit(ctl::NumberField)->text(), "4021");

                ComPtr<FakeSession> session(new FakeSession);
                session->remoteUri = "sip:5551000@127.0.0.1";
                ComPtr<FakeSessionEvent> incoming(new FakeSessionEvent(RTCSS_INCOMING, session.get()));
                w.raise(RTCE_SESSION_STATE_CHANGE, incoming.get());
                EXPECT_TRUE(waitFor([&] { return w.dlg->text(ctl::CallStatus) == "Incoming...5551000"; }));
                EXPECT_TRUE(w.dlg->timerRunning(3004));
                EXPECT_TRUE(waitFor([&] { return w.dlg->flashCount() >= 2; }, 3000));

                QTest::mouseClick(w.dlg->control(ctl::Pickup), Qt::LeftButton); // answers
                EXPECT_EQ(session->calls, QStringList{"Answer"});
                w.dlg->done(0);
            });
}

// The real main window and login window on the offscreen platform, over the scripted engine:
// start-up with the login window, controls and their places, keys, posted engine events,
// timers and the close button.
#include "fakes/FakeSecretStore.h"
#include "fakes/FakeServices.h"
#include "fakes/Modal.h"
#include "history/Login.h"
#include "history/PhoneBookDlg.h"
#include "mainwindow/AboutDlg.h"
#include "mainwindow/KestuSoftPhoneDlg.h"
#include "mainwindow/MainTemplate.h"
#include "phone/ControlIds.h"
#include "skin/BitmapButton.h"
#include "skin/DialogUnits.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
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
    InlineWorker worker;
    SecretStore keyring;
    ComPtr<FakeClient> client{new FakeClient};
    std::unique_ptr<CKestuSoftPhoneDlg> dlg;
    QStringList opened;

    // `realBoxes`: message boxes are shown for real (modal, with their own event loop).
    explicit Window(IMessageBox* realBoxes = nullptr) {
        QSettings("Kestu", "SoftPhone").clear();
        MainWindowServices s;
        s.engineFactory = [this](IRTCClient** out) {
            *out = ComPtr<IRTCClient>(client.get()).detach();
            return S_OK;
        };
        s.https = &https;
        s.clock = &clock;
        s.box = realBoxes ? realBoxes : &box;
        s.sound = &sound;
        s.worker = &worker;
        s.secrets = &keyring;
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

// A key pressed by the user: it enters at the window's platform window, as real keys do.
void Press(CKestuSoftPhoneDlg* dlg, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QTest::keyClick(dlg->windowHandle(), key, mods);
}

// Message boxes shown for real, their texts recorded.
struct RealBoxes : IMessageBox {
    void show(const QString& text, const QString& title, BoxIcon icon) override {
        texts << text;
        QtMessageBox().show(text, title, icon);
    }
    QStringList texts;
};

void Register(Window& w) {
    ComPtr<FakeRegEvent> registered(new FakeRegEvent(RTCRS_REGISTERED));
    w.raise(RTCE_REGISTRATION_STATE_CHANGE, registered.get());
    ASSERT_TRUE(waitFor([&] { return w.dlg->text(ctl::RegStatus) == "Ready to call..."; }));
}

TEST(MainWindow, KeysSendTheToneOfTheCharacterTheyTypeAndLandInTheirField) {
    Window w;
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                QLineEdit* number = w.edit(ctl::NumberField);
                number->setFocus();
                w.client->calls.clear();
                Press(w.dlg.get(), Qt::Key_1);
                Press(w.dlg.get(), Qt::Key_2);
                // "#" however it is typed (Shift+3 here), "*" from the keypad.
                Press(w.dlg.get(), Qt::Key_NumberSign, Qt::ShiftModifier);
                Press(w.dlg.get(), Qt::Key_Asterisk, Qt::KeypadModifier);
                // End and Print type nothing and send nothing.
                Press(w.dlg.get(), Qt::Key_End);
                Press(w.dlg.get(), Qt::Key_Print);
                EXPECT_EQ(w.client->calls.filter("SendDTMF"),
                          (QStringList{"SendDTMF(1)", "SendDTMF(2)", "SendDTMF(11)", "SendDTMF(10)"}));
                EXPECT_EQ(w.sound.played.mid(w.sound.played.size() - 4),
                          (QStringList{"Dtmf-1.wav", "Dtmf-2.wav", "Dtmf-pound.wav", "Dtmf-star.wav"}));
                EXPECT_EQ(number->text(), "12#*");

                // A digit typed while the user name field has the focus lands there and moves the
                // focus to the number field.
                QLineEdit* user = w.edit(ctl::UserNameField);
                user->setEnabled(true);
                user->setFocus();
                const QString before = user->text();
                Press(w.dlg.get(), Qt::Key_7);
                EXPECT_EQ(user->text(), before + "7");
                EXPECT_EQ(w.dlg->focusWidget(), number);
                w.dlg->done(0);
            });
}

TEST(MainWindow, OneEnterIsOneActionEvenWhenItsMessageBoxRunsANestedLoop) {
    RealBoxes boxes;
    Window w(&boxes);
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                // Not registered yet: Enter logs in again, once, and says nothing.
                w.edit(ctl::NumberField)->setFocus();
                const qsizetype profiles = w.client->calls.filter("CreateProfile").size();
                Press(w.dlg.get(), Qt::Key_Return);
                waitFor([] { return false; }, 200);
                EXPECT_EQ(w.client->calls.filter("CreateProfile").size(), profiles + 1);
                EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join('|').toStdString();

                // Registered with an empty number: the box of OnPickup. The user lets go of Enter
                // while it is up, then dismisses it with Enter; the first press must not run again.
                Register(w);
                int seen = 0;
                QTimer watch;
                QObject::connect(&watch, &QTimer::timeout, [&] {
                    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                    if (!box || !box->isVisible())
                        return;
                    if (++seen == 1) {
                        QTest::keyRelease(box->windowHandle(), Qt::Key_Return);
                        QTest::keyClick(box->windowHandle(), Qt::Key_Return);
                    } else {
                        box->done(0); // a second box: counted, and closed so that the test ends
                    }
                });
                watch.start(10);
                Press(w.dlg.get(), Qt::Key_Return);
                waitFor([] { return false; }, 500);
                watch.stop();
                EXPECT_EQ(seen, 1);
                EXPECT_EQ(boxes.texts, QStringList{"Enter number to call"});
                EXPECT_TRUE(w.dlg->isVisible());
                w.dlg->done(0);
            });
}

TEST(MainWindow, TheNumberFieldTakesAtMost128CharactersHoweverTheTextArrives) {
    Window w;
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                QLineEdit* number = w.edit(ctl::NumberField);
                number->setFocus();
                QGuiApplication::clipboard()->setText(QString(200, '7'));
                Press(w.dlg.get(), Qt::Key_V, Qt::ControlModifier);
                EXPECT_EQ(number->text(), QString(128, '7'));
                w.dlg->setText(ctl::NumberField, QString(300, '8'));
                EXPECT_EQ(number->text().size(), 128);

                // The full field is refused at once, before any tone.
                Register(w);
                w.sound.played.clear();
                Press(w.dlg.get(), Qt::Key_Return);
                EXPECT_EQ(w.box.texts(), QStringList{"Sip url too long."});
                EXPECT_TRUE(w.sound.played.isEmpty());
                EXPECT_TRUE(w.clock.sleeps.isEmpty());
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

TEST(MainWindow, EveryControlHasAnAccessibleNameAndTabFollowsTheFace) {
    Window w;
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                for (const ControlDef& def : MainTemplate()) {
                    QWidget* c = w.dlg->control(def.id);
                    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
                    ASSERT_TRUE(a) << def.id;
                    const QString name = a->text(QAccessible::Name);
                    if (def.tooltip)
                        EXPECT_EQ(name, QString::fromLatin1(def.tooltip)) << def.id;
                    else if (def.kind == ControlKind::Label || def.kind == ControlKind::PlainStatic)
                        EXPECT_EQ(name, w.dlg->text(def.id)) << def.id; // a label is its text
                    else
                        EXPECT_FALSE(name.isEmpty()) << def.id;
                }
                auto name = [&](int id) {
                    return QAccessible::queryAccessibleInterface(w.dlg->control(id))->text(QAccessible::Name);
                };
                EXPECT_EQ(name(ctl::NumberField), "Phone number");
                EXPECT_EQ(name(ctl::Register), "Register");
                EXPECT_EQ(name(ctl::LogOff), "Log Off");

                // Tab from the number field: the quick keys, call and hang-up, then the dial pad.
                w.edit(ctl::NumberField)->setFocus();
                QStringList order;
                for (int i = 0; i < 9; ++i) {
                    QTest::keyClick(w.dlg->windowHandle(), Qt::Key_Tab);
                    order << name(w.dlg->focusWidget()->property("controlId").toInt());
                }
                EXPECT_EQ(order,
                          (QStringList{"Open for Relogin Server", "Click for Redial Number",
                                       "Clear Current Number", "Clear Current Number One by One",
                                       "Click to Make Call", "Click to End Call", "One", "Two", "Three"}));

                // A status text is read out as it now stands.
                ComPtr<FakeRegEvent> registering(new FakeRegEvent(RTCRS_REGISTERING));
                w.raise(RTCE_REGISTRATION_STATE_CHANGE, registering.get());
                waitFor([&] { return w.dlg->text(ctl::RegStatus) == "Registering..."; });
                EXPECT_EQ(name(ctl::RegStatus), "Registering...");
                w.dlg->done(0);
            });
}

TEST(MainWindow, TheEndOfTheDesktopSessionLogsOffAndEndsTheWindow) {
    Window w;
    const int result = w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
                               [&] {
                                   Register(w);
                                   // What the session manager's "die" does.
                                   QEvent quit(QEvent::Quit);
                                   QCoreApplication::sendEvent(qApp, &quit);
                               });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(w.client->calls.filter("DisableProfile").size(), 1);
}

TEST(MainWindow, ADoubleClickOnALinkOpensItsPageOnce) {
    Window w;
    w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
            [&] {
                QWidget* link = w.dlg->control(ctl::WebLink);
                ASSERT_TRUE(link && link->isVisible());
                // Through the window, as the desktop delivers it: press, release, press, release,
                // the second press arriving as a double-click.
                const QPoint at = link->mapTo(w.dlg.get(), link->rect().center());
                QTest::mouseDClick(w.dlg->windowHandle(), Qt::LeftButton, {}, at);
                EXPECT_EQ(w.opened, QStringList{"http://www.orvanephone.com"});
                w.dlg->done(0);
            });
}

TEST(MessageBox, ShowsItsTextAsPlainTextNeverAsMarkup) {
    const QString text = QStringLiteral("The link <b>sip:1</b><img src=x> cannot be called.");
    QString shown;
    Qt::TextFormat format = Qt::AutoText;
    whenModal<QMessageBox>([&](QMessageBox* box) {
        format = box->textFormat();
        if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
            shown = label->text();
        box->done(0);
    });
    QtMessageBox().show(text);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, text);
}

TEST(MainWindow, TheEndOfTheDesktopSessionKeepsWhatThePhoneBookChanged) {
    Window w;
    const int result = w.start([](CLogin* l) { TypeLogin(l, "alice", "pw"); },
                               [&] {
                                   whenModal<CPhoneBook>([](CPhoneBook* book) {
                                       QTest::keyClicks(book->control(bookctl::Name), "Anna");
                                       QTest::keyClicks(book->control(bookctl::Number), "4021");
                                       QTest::mouseClick(book->control(bookctl::Add), Qt::LeftButton);
                                       // What the session manager's "die" does, with the phone book still
                                       // open.
                                       QEvent quit(QEvent::Quit);
                                       QCoreApplication::sendEvent(qApp, &quit);
                                   });
                                   QTest::mouseClick(w.dlg->control(ctl::Phone), Qt::LeftButton);
                               });
    EXPECT_EQ(result, 1);
    QFile book(w.dir.filePath("PhoneBook.bin"));
    ASSERT_TRUE(book.open(QIODevice::ReadOnly));
    EXPECT_EQ(book.readAll(), QByteArray("Anna--4021\r\n"));
    EXPECT_TRUE(w.box.shown.isEmpty());
}

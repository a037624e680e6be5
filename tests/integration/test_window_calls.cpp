// Calls through the real window, the real engine and kamailio, with SIPp as the far end:
// an answered outgoing call with DTMF checked on the wire, and incoming calls answered, rejected
// and given up by the caller, each with the history files read afterwards.
#include "integration/window_lab.h"

#include "calls/Session.h"
#include "fakes/Modal.h"
#include "history/CallLog.h"
#include "history/PhoneBookDlg.h"
#include "integration/test_engine_support.h"
#include "phone/ControlIds.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>

using namespace windowtest;

class WindowCallTest : public WindowTest {
protected:
    // SIPp calls alice through kamailio with `scenario`.
    bool callAlice(lab::Sipp& caller, const QString& scenario, int callLengthMs = 1500) {
        lab::SippOptions o;
        o.scenario = scenario;
        o.remote = kamailio->address();
        o.service = QStringLiteral("alice");
        o.callLengthMs = callLengthMs;
        o.timeoutSec = 25;
        return caller.start(o);
    }
    bool registered() { return waitText(ctl::RegStatus, "Ready to call..."); }
};

TEST_F(WindowCallTest, OutgoingCallIsAnsweredCarriesDtmfAndIsRecordedOnce) {
    enginetest::RtpPeer rtp;
    ASSERT_TRUE(rtp.bind());
    lab::Sipp peer;
    lab::SippOptions o;
    o.scenario = QStringLiteral("uas_answer.xml");
    o.localPort = uasPort;
    o.advertisedMediaPort = rtp.port();
    o.timeoutSec = 30;
    ASSERT_TRUE(peer.start(o) && peer.waitUntilReady());

    run(loginAlice, [&] {
        ASSERT_TRUE(registered());
        auto* number = qobject_cast<QLineEdit*>(window->control(ctl::NumberField));
        for (int id : {ctl::Four, ctl::Zero, ctl::Two, ctl::One})
            click(id);
        EXPECT_EQ(number->text(), "4021");
        window->texts.clear();
        click(ctl::Pickup);
        ASSERT_TRUE(waitText(ctl::CallStatus, "Connected...")) << peer.errors().toStdString();
        EXPECT_EQ(window->texts[ctl::CallStatus], (QStringList{"Inprogress...", "Connected..."}));
        EXPECT_FALSE(window->control(ctl::Pickup)->isEnabled());

        // The call timer counts.
        ASSERT_TRUE(waitText(ctl::CallTimer, "00:00:01", 4000));

        // Dial-pad digits during the call go out as RFC 4733 events.
        for (int id : {ctl::One, ctl::Two, ctl::Pound})
            click(id);
        EXPECT_TRUE(waitFor(
            [&] {
                rtp.poll();
                return rtp.digits() == "12#";
            },
            5000))
            << rtp.digits().toStdString();
        EXPECT_GT(rtp.audioPackets(), 0);
        EXPECT_EQ(number->text(), "402112#");

        // "#" typed on the keyboard (Shift+3 here) is pound, event 11, too.
        QTest::keyClick(window->windowHandle(), Qt::Key_NumberSign, Qt::ShiftModifier);
        EXPECT_TRUE(waitFor(
            [&] {
                rtp.poll();
                return rtp.digits() == "12##";
            },
            5000))
            << rtp.digits().toStdString();

        // The balance asked for after registering has long been shown.
        ASSERT_TRUE(waitText(ctl::Balance, "Balance: 12.50EUR"));
        const qsizetype balances = window->texts[ctl::Balance].size();
        click(ctl::Hangup);
        ASSERT_TRUE(waitText(ctl::CallStatus, "Disconnected..."));
        EXPECT_FALSE(window->timerRunning(3));
        EXPECT_TRUE(window->control(ctl::Pickup)->isEnabled());
        EXPECT_EQ(peer.waitForExit(10000), 0) << peer.errors().toStdString();
        // Once more after the call: the balance query.
        EXPECT_TRUE(waitFor([&] { return window->texts[ctl::Balance].size() == balances + 1; }));
        EXPECT_EQ(status(ctl::Balance), "Balance: 12.50EUR");
        waitFor([] { return false; }, 500);
        EXPECT_EQ(window->texts[ctl::CallStatus].count("Disconnected..."), 1);
    });
    const QStringList dialled = records(CallKind::Dialled);
    ASSERT_EQ(dialled.size(), 1);
    EXPECT_EQ(NumberFromCallRecord(dialled[0]), "4021");
    EXPECT_TRUE(box.shown.isEmpty()) << box.texts().join("|").toStdString();
}

TEST_F(WindowCallTest, IncomingCallShowsTheCallerAndAnsweringRecordsItAsReceived) {
    lab::Sipp caller;
    run(loginAlice, [&] {
        ASSERT_TRUE(registered());
        ASSERT_TRUE(callAlice(caller, "uac_answer.xml", 1500));
        ASSERT_TRUE(waitText(ctl::CallStatus, "Incoming...5551000")) << caller.errors().toStdString();
        EXPECT_TRUE(window->timerRunning(3004)); // flashing
        click(ctl::Pickup);
        ASSERT_TRUE(waitText(ctl::CallStatus, "Connected..."));
        EXPECT_TRUE(window->texts[ctl::CallStatus].contains("Answering..."));
        EXPECT_FALSE(window->timerRunning(3004));
        // The caller hangs up.
        ASSERT_TRUE(waitText(ctl::CallStatus, "Disconnected...", 10000));
        EXPECT_EQ(caller.waitForExit(10000), 0) << caller.errors().toStdString();
    });
    const QStringList received = records(CallKind::Received);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(NumberFromCallRecord(received[0]), "5551000");
    EXPECT_TRUE(records(CallKind::Missed).isEmpty());
}

TEST_F(WindowCallTest, RejectingAnIncomingCallAnswersBusyAndRecordsItAsReceived) {
    lab::Sipp caller;
    run(loginAlice, [&] {
        ASSERT_TRUE(registered());
        ASSERT_TRUE(callAlice(caller, "uac_decline.xml"));
        ASSERT_TRUE(waitText(ctl::CallStatus, "Incoming...5551000")) << caller.errors().toStdString();
        click(ctl::Hangup);
        ASSERT_TRUE(waitText(ctl::CallStatus, "Disconnected..."));
        // The scenario succeeds only when the call is refused with 486 Busy Here.
        EXPECT_EQ(caller.waitForExit(10000), 0) << caller.errors().toStdString();
        EXPECT_FALSE(window->timerRunning(3004));
    });
    EXPECT_EQ(records(CallKind::Received).size(), 1);
    EXPECT_TRUE(records(CallKind::Missed).isEmpty());
}

TEST_F(WindowCallTest, ACallerGivingUpBeforeAnAnswerLeavesExactlyOneMissedRecord) {
    lab::Sipp caller;
    run(loginAlice, [&] {
        ASSERT_TRUE(registered());
        ASSERT_TRUE(callAlice(caller, "uac_cancel.xml"));
        ASSERT_TRUE(waitText(ctl::CallStatus, "Incoming...5551000")) << caller.errors().toStdString();
        ASSERT_TRUE(waitText(ctl::CallStatus, "Disconnected...", 10000));
        EXPECT_EQ(caller.waitForExit(10000), 0) << caller.errors().toStdString();
        waitFor([] { return false; }, 500);
        // The window goes on flashing after a missed call.
        EXPECT_TRUE(window->timerRunning(3004));
    });
    const QStringList missed = records(CallKind::Missed);
    ASSERT_EQ(missed.size(), 1);
    EXPECT_EQ(NumberFromCallRecord(missed[0]), "5551000");
    EXPECT_TRUE(records(CallKind::Received).isEmpty());
}

namespace {

void DoubleClickRow(QListWidget* list, int row) {
    const QPoint at = list->visualItemRect(list->item(row)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

} // namespace

TEST_F(WindowCallTest, NumbersChosenInThePhoneBookAndTheCallHistoryAreCalled) {
    const QString history = dir.filePath("history");
    ASSERT_TRUE(QDir().mkpath(history));
    QFile book(history + "/PhoneBook.bin");
    ASSERT_TRUE(book.open(QIODevice::WriteOnly));
    book.write("Anna--4021\r\nBruno--4022\r\n");
    book.close();

    lab::SippOptions o;
    o.scenario = QStringLiteral("uas_answer.xml");
    o.localPort = uasPort;
    o.rtpEcho = true;
    o.timeoutSec = 30;

    // Opens a window with `button`, where `choose` picks 4022; the call must reach the far end.
    const auto callThrough = [&](int button, const std::function<void()>& choose) {
        lab::Sipp peer;
        ASSERT_TRUE(peer.start(o) && peer.waitUntilReady());
        window->setText(ctl::NumberField, QString());
        choose();
        click(button);
        EXPECT_EQ(status(ctl::NumberField), "4022");
        ASSERT_TRUE(waitText(ctl::CallStatus, "Connected...")) << peer.errors().toStdString();
        EXPECT_TRUE(peer.messages().contains("INVITE sip:4022@")) << peer.messages().toStdString();
        click(ctl::Hangup);
        ASSERT_TRUE(waitText(ctl::CallStatus, "Disconnected..."));
        EXPECT_EQ(peer.waitForExit(10000), 0) << peer.errors().toStdString();
    };
    run(loginAlice, [&] {
        ASSERT_TRUE(registered());
        // From the phone book: Bruno, then Call.
        callThrough(ctl::Phone, [] {
            fake::whenModal<CPhoneBook>([](CPhoneBook* w) {
                auto* list = w->controlAs<QListWidget>(bookctl::List);
                const QPoint at = list->visualItemRect(list->item(2)).center();
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseClick(w->control(bookctl::Call), Qt::LeftButton);
            });
        });
        // From the call history: the dialled record just written, double-clicked.
        callThrough(ctl::Feedback, [] {
            fake::whenModal<CCallLog>([](CCallLog* w) {
                EXPECT_EQ(w->pageWord(), "dialled");
                DoubleClickRow(w->controlAs<QListWidget>(logctl::Dialled), 0);
            });
        });
    });
    EXPECT_EQ(records(CallKind::Dialled).size(), 2);
    EXPECT_TRUE(box.shown.isEmpty()) << box.texts().join("|").toStdString();
}

TEST_F(WindowCallTest, ACallMissedWhileTheCallHistoryWindowIsOpenIsStillThereAfterItsClose) {
    lab::Sipp caller;
    run(loginAlice, [&] {
        ASSERT_TRUE(registered());
        fake::whenModal<CCallLog>(
            [&](CCallLog* w) {
                // The phone keeps taking calls behind the open window.
                ASSERT_TRUE(callAlice(caller, "uac_cancel.xml"));
                EXPECT_TRUE(waitFor([&] { return records(CallKind::Missed).size() == 1; }, 15000))
                    << caller.errors().toStdString();
                EXPECT_EQ(caller.waitForExit(10000), 0) << caller.errors().toStdString();
                QTest::mouseClick(w->control(logctl::Close), Qt::LeftButton);
            },
            10000);
        click(ctl::Feedback);
    });
    const QStringList missed = records(CallKind::Missed);
    ASSERT_EQ(missed.size(), 1);
    EXPECT_EQ(NumberFromCallRecord(missed[0]), "5551000");
}

namespace {

// Seconds since midnight of a SIPp message-trace separator line ("---- 2026-12-09\t17:38:12.345678
// ..."), for the message that follows it; -1 when there is none.
double SippTimeOf(const QString& log, const QString& startOfMessage) {
    const qsizetype at = log.indexOf(startOfMessage);
    if (at < 0)
        return -1;
    const qsizetype line = log.lastIndexOf(QStringLiteral("----------"), at);
    const QRegularExpression time(QStringLiteral("(\\d\\d):(\\d\\d):(\\d\\d\\.\\d+)"));
    const QRegularExpressionMatch m = time.match(log.mid(line, at - line));
    if (!m.hasMatch())
        return -1;
    return m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
}

} // namespace

TEST_F(WindowCallTest, ASecondCallerDuringACallGetsBusyIsListedAsMissedAndTheFirstCallStillEnds) {
    lab::Sipp far;
    lab::SippOptions o;
    o.scenario = QStringLiteral("uas_answer.xml");
    o.localPort = uasPort;
    o.timeoutSec = 40;
    ASSERT_TRUE(far.start(o) && far.waitUntilReady());
    lab::Sipp second;
    run(loginAlice, [&] {
        ASSERT_TRUE(registered());
        window->setText(ctl::NumberField, QStringLiteral("4021"));
        click(ctl::Pickup);
        ASSERT_TRUE(waitText(ctl::CallStatus, "Connected...")) << far.errors().toStdString();

        lab::SippOptions s;
        s.scenario = QStringLiteral("uac_decline.xml");
        s.remote = kamailio->address();
        s.service = QStringLiteral("alice");
        s.caller = QStringLiteral("5552000");
        s.timeoutSec = 20;
        ASSERT_TRUE(second.start(s));
        // The scenario passes only on 486 Busy Here.
        EXPECT_EQ(second.waitForExit(20000), 0) << second.errors().toStdString();
        const QString trace = second.messages();
        const double invite = SippTimeOf(trace, QStringLiteral("INVITE sip:"));
        const double busy = SippTimeOf(trace, QStringLiteral("SIP/2.0 486"));
        EXPECT_GE(invite, 0) << trace.toStdString();
        EXPECT_LT(busy - invite, 1.0) << trace.toStdString();

        // The window still shows the first call, whose end is still the hang-up button's.
        waitFor([] { return false; }, 300);
        EXPECT_EQ(status(ctl::CallStatus), "Connected...");
        EXPECT_FALSE(window->texts[ctl::CallStatus].contains("Disconnected..."));
        EXPECT_FALSE(window->texts[ctl::CallStatus].contains("Incoming...5552000"));
        click(ctl::Hangup);
        ASSERT_TRUE(waitText(ctl::CallStatus, "Disconnected..."));
        // uas_answer ends well only once it got the BYE.
        EXPECT_EQ(far.waitForExit(10000), 0) << far.errors().toStdString();
    });
    const QStringList missed = records(CallKind::Missed);
    ASSERT_EQ(missed.size(), 1);
    EXPECT_EQ(NumberFromCallRecord(missed[0]), "5552000");
    EXPECT_TRUE(records(CallKind::Received).isEmpty());
}

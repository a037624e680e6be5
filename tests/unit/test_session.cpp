// How the window follows a call through its session states: texts, buttons, marks, timers,
// sounds, records, hanging up and rejecting, and the one-call-at-a-time rules.
#include "calls/Pickup.h"
#include "calls/Session.h"
#include "fakes/FakeServices.h"
#include "phone/ControlIds.h"

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

struct Call {
    TestPhone t;
    ComPtr<FakeSession> session{new FakeSession};
    Call() { t.registerAccount("srv"); }
    void event(RTC_SESSION_STATE s) { t.deliverSession(s, session.get()); }
    // Ticks a window timer as the platform would.
    void tick(int id, int times = 1) {
        for (int i = 0; i < times; ++i)
            OnTimer(t.phone, id);
    }
    bool running(int id) const { return t.view.timers.contains(id); }
    QString status() const { return t.view.text(ctl::CallStatus); }
};

} // namespace

TEST(SessionText, CallerAndDuration) {
    EXPECT_EQ(CallerFromUri("sip:5551000@127.0.0.1:5090"), "5551000");
    EXPECT_EQ(CallerFromUri("5551000@host"), "5551000");
    EXPECT_EQ(CallerFromUri("sip:5551000"), "");
    EXPECT_EQ(CallerFromUri("bob@host:5060"), ""); // the first ':' after the '@' leaves nothing
    EXPECT_EQ(CallerFromUri("sips:a:b@c"), "a:b");
    EXPECT_EQ(DurationText(0), "00:00:00");
    EXPECT_EQ(DurationText(1), "00:00:01");
    EXPECT_EQ(DurationText(3600), "01:00:00");
    EXPECT_EQ(DurationText(3599), "00:59:59");
    EXPECT_EQ(DurationText(360000), "100:00:00");
}

TEST(OutgoingCall, InProgressRingsBackThenConnectedCountsThenDisconnectedRefreshesBalance) {
    Call c;
    c.event(RTCSS_INPROGRESS);
    EXPECT_EQ(c.status(), "Inprogress...");
    EXPECT_EQ(c.t.view.text(ctl::CallTimer), "00:00:00");
    EXPECT_EQ(c.t.view.timers.value(timer::Ringback), 3000);
    EXPECT_FALSE(c.t.view.isEnabled(ctl::Pickup));
    EXPECT_FALSE(c.t.view.isEnabled(ctl::Redial));
    EXPECT_FALSE(c.t.view.isEnabled(ctl::Account));
    EXPECT_EQ(c.t.phone.st.callInProgress, 1);
    c.tick(timer::Ringback, 2);
    EXPECT_EQ(c.t.sound.played, (QStringList{"ring.wav", "ring.wav"}));

    c.event(RTCSS_CONNECTED);
    EXPECT_EQ(c.status(), "Connected...");
    EXPECT_FALSE(c.running(timer::Ringback));
    EXPECT_EQ(c.t.view.timers.value(timer::CallDuration), 1000);
    EXPECT_EQ(c.t.phone.st.callConnected, 1);
    EXPECT_EQ(c.t.phone.st.callInProgress, 0);
    EXPECT_FALSE(c.t.view.isEnabled(ctl::Pickup));
    EXPECT_TRUE(c.t.view.isEnabled(ctl::Redial));
    c.tick(timer::CallDuration);
    EXPECT_EQ(c.t.view.text(ctl::CallTimer), "00:00:00"); // one second after Connected
    c.tick(timer::CallDuration);
    EXPECT_EQ(c.t.view.text(ctl::CallTimer), "00:00:01");
    c.tick(timer::CallDuration, 3599);
    EXPECT_EQ(c.t.view.text(ctl::CallTimer), "01:00:00"); // 3601 seconds

    OnHangup(c.t.phone);
    EXPECT_EQ(c.session->calls, QStringList{"Terminate(0)"});
    EXPECT_EQ(c.status(), "Connected..."); // the display waits for the engine

    c.event(RTCSS_DISCONNECTED);
    EXPECT_EQ(c.status(), "Disconnected...");
    EXPECT_FALSE(c.running(timer::CallDuration));
    EXPECT_TRUE(c.t.view.isEnabled(ctl::Pickup));
    EXPECT_TRUE(c.t.view.isEnabled(ctl::Account));
    EXPECT_EQ(c.t.phone.st.callConnected, 0);
    EXPECT_EQ(c.t.view.focused, ctl::NumberField);
    EXPECT_EQ(c.t.https.urls.size(), 1);
    EXPECT_EQ(c.t.view.text(ctl::Balance), "Balance: 12.50EUR");
    EXPECT_TRUE(c.t.history(CallKind::Missed).isEmpty());
}

TEST(IncomingCall, RingsFlashesRestoresAndShowsTheCaller) {
    Call c;
    c.session->remoteUri = "sip:5551000@127.0.0.1:5090";
    c.t.phone.st.minimized = 1;
    c.t.phone.st.rejected = 1;
    c.event(RTCSS_INCOMING);
    EXPECT_EQ(c.status(), "Incoming...5551000");
    EXPECT_EQ(c.t.phone.st.caller, "5551000");
    EXPECT_EQ(c.t.view.restores, 1);
    EXPECT_EQ(c.t.phone.st.minimized, 0);
    EXPECT_EQ(c.t.phone.st.rejected, 0);
    EXPECT_EQ(c.t.phone.st.ringing, 1);
    EXPECT_EQ(c.t.phone.st.missedCall, 1);
    EXPECT_EQ(c.t.view.timers.value(timer::Flash), 500);
    EXPECT_TRUE(c.t.view.isEnabled(ctl::Pickup));
    EXPECT_FALSE(c.t.view.isEnabled(ctl::Redial));
    EXPECT_FALSE(c.t.view.isEnabled(ctl::CallHistory));
    c.tick(timer::Flash, 3);
    EXPECT_EQ(c.t.view.flashes, 3);
}

TEST(IncomingCall, AnsweringWritesOneReceivedRecord) {
    Call c;
    c.event(RTCSS_INCOMING);
    OnPickup(c.t.phone);
    EXPECT_EQ(c.session->calls, QStringList{"Answer"});
    c.event(RTCSS_ANSWERING);
    EXPECT_EQ(c.status(), "Answering...");
    EXPECT_FALSE(c.running(timer::Flash));
    EXPECT_EQ(c.t.phone.st.missedCall, 0);
    EXPECT_EQ(c.t.phone.st.receivedCall, 1);
    c.event(RTCSS_CONNECTED);
    c.event(RTCSS_DISCONNECTED);
    const QStringList received = c.t.history(CallKind::Received);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(NumberFromCallRecord(received[0]), "5551000");
    EXPECT_TRUE(c.t.history(CallKind::Missed).isEmpty());
}

TEST(IncomingCall, AnsweringWithoutCallerWritesNothingButTheFileExists) {
    Call c;
    c.session->remoteUri = "sip:nobody"; // no '@': no caller
    c.event(RTCSS_INCOMING);
    EXPECT_EQ(c.status(), "Incoming...");
    c.event(RTCSS_ANSWERING);
    EXPECT_TRUE(c.t.history(CallKind::Received).isEmpty());
    EXPECT_TRUE(QFile::exists(c.t.phone.history.path(CallKind::Received)));
}

TEST(IncomingCall, RejectingDeclinesBusyAndRecordsReceivedNotMissed) {
    Call c;
    c.event(RTCSS_INCOMING);
    OnHangup(c.t.phone);
    EXPECT_EQ(c.session->calls, QStringList{"Terminate(2)"});
    EXPECT_FALSE(c.running(timer::Flash));
    EXPECT_EQ(c.t.phone.st.rejected, 1);
    EXPECT_EQ(c.t.phone.st.receivedCall, 1);
    c.event(RTCSS_DISCONNECTED);
    EXPECT_EQ(c.t.history(CallKind::Received).size(), 1);
    EXPECT_TRUE(c.t.history(CallKind::Missed).isEmpty());
}

TEST(IncomingCall, RejectingWithoutCallerStillWritesALine) {
    Call c;
    c.session->remoteUri = "sip:nobody";
    c.event(RTCSS_INCOMING);
    OnHangup(c.t.phone);
    const QStringList received = c.t.history(CallKind::Received);
    ASSERT_EQ(received.size(), 1);
    EXPECT_TRUE(received[0].startsWith("   09:05:07"));
}

TEST(IncomingCall, UnansweredWritesExactlyOneMissedRecordAndKeepsFlashing) {
    Call c;
    c.event(RTCSS_INCOMING);
    c.event(RTCSS_DISCONNECTED);
    EXPECT_EQ(c.t.history(CallKind::Missed).size(), 1);
    EXPECT_EQ(c.status(), "Disconnected...");
    EXPECT_TRUE(c.running(timer::Flash)); // until the history window or a later call stops it

    // A following outgoing call writes no missed record; connecting stops the flashing.
    ComPtr<FakeSession> next(new FakeSession);
    c.t.deliverSession(RTCSS_INPROGRESS, next.get());
    c.t.deliverSession(RTCSS_CONNECTED, next.get());
    EXPECT_FALSE(c.running(timer::Flash));
    c.t.deliverSession(RTCSS_DISCONNECTED, next.get());
    EXPECT_EQ(c.t.history(CallKind::Missed).size(), 1);
}

TEST(IncomingCall, ACallerThatCannotBeReadLeavesItRinging) {
    const struct {
        int what;
        const char* message;
    } cases[] = {
        {0, "enumerate participant failed"}, {1, "get participant failed"}, {2, "get user uri failed"}};
    for (const auto& k : cases) {
        Call c;
        c.t.phone.st.caller = "earlier";
        if (k.what == 0)
            c.session->enumerateResult = E_FAIL;
        if (k.what == 1)
            c.session->nextResult = S_FALSE;
        if (k.what == 2)
            c.session->uriResult = E_FAIL;
        c.event(RTCSS_INCOMING);
        EXPECT_EQ(c.t.box.texts(), QStringList{k.message});
        EXPECT_EQ(c.status(), "Incoming...");
        EXPECT_EQ(c.t.phone.st.caller, "earlier");
        EXPECT_EQ(c.t.phone.st.ringing, 1);
        EXPECT_TRUE(c.running(timer::Flash));
    }
}

TEST(OneCallAtATime, ASecondCallIsDeclinedBusyListedAsMissedAndNeverTouchesTheFirst) {
    // Busy with a connected incoming call, an outgoing call under way, or a call still ringing.
    enum class Busy { Connected, Outgoing, Ringing };
    for (Busy busy : {Busy::Connected, Busy::Outgoing, Busy::Ringing}) {
        SCOPED_TRACE(static_cast<int>(busy));
        Call c;
        c.session->remoteUri = "sip:first@srv";
        if (busy == Busy::Outgoing) {
            c.t.view.texts[ctl::NumberField] = "first";
            OnPickup(c.t.phone);
            ASSERT_TRUE(c.t.client->lastSession);
            c.session = c.t.client->lastSession;
            c.event(RTCSS_INPROGRESS);
        } else {
            c.event(RTCSS_INCOMING);
            if (busy == Busy::Connected) {
                c.event(RTCSS_ANSWERING);
                c.event(RTCSS_CONNECTED);
            }
        }
        const QString status = c.status();
        const QStringList log = c.t.view.log;
        const MainState before = c.t.phone.st;

        ComPtr<FakeSession> second(new FakeSession);
        second->remoteUri = "sip:second@srv";
        c.t.deliverSession(RTCSS_INCOMING, second.get());
        EXPECT_EQ(second->calls, QStringList{"Terminate(2)"}); // 486 Busy Here
        // The one who tried is listed.
        const QStringList missed = c.t.history(CallKind::Missed);
        ASSERT_EQ(missed.size(), 1);
        EXPECT_TRUE(missed.first().startsWith(" second  ")) << missed.first().toStdString();

        // Its end leaves the display, the marks, the caller and the session as they were.
        c.t.deliverSession(RTCSS_DISCONNECTED, second.get());
        EXPECT_EQ(c.status(), status);
        EXPECT_EQ(c.t.view.log, log);
        const MainState& st = c.t.phone.st;
        EXPECT_EQ(st.callConnected, before.callConnected);
        EXPECT_EQ(st.callInProgress, before.callInProgress);
        EXPECT_EQ(st.ringing, before.ringing);
        EXPECT_EQ(st.caller, before.caller);
        EXPECT_EQ(st.session.get(), static_cast<IRTCSession*>(c.session.get()));
        EXPECT_EQ(c.t.history(CallKind::Missed).size(), 1);
        EXPECT_TRUE(st.declinedSessions.empty());

        // The hang-up button still ends (or rejects) the first call.
        c.session->calls.clear();
        OnHangup(c.t.phone);
        EXPECT_EQ(c.session->calls, QStringList{busy == Busy::Ringing ? "Terminate(2)" : "Terminate(0)"});
        c.event(RTCSS_DISCONNECTED);
        EXPECT_EQ(c.status(), "Disconnected...");
        EXPECT_EQ(c.t.phone.st.callConnected + c.t.phone.st.callInProgress + c.t.phone.st.ringing, 0);
    }
}

TEST(Hangup, WithNoCallDoesNothing) {
    Call c;
    OnHangup(c.t.phone);
    EXPECT_TRUE(c.session->calls.isEmpty());
    EXPECT_TRUE(c.t.history(CallKind::Received).isEmpty());
    EXPECT_TRUE(c.t.view.log.isEmpty());
}

TEST(Hangup, CancelsAnOutgoingCallInProgress) {
    Call c;
    c.event(RTCSS_INPROGRESS);
    c.session->terminateResult = RTC_E_INVALID_SESSION_STATE;
    OnHangup(c.t.phone);
    EXPECT_EQ(c.session->calls, QStringList{"Terminate(0)"});
    EXPECT_EQ(c.t.phone.st.lastResult, RTC_E_INVALID_SESSION_STATE);
}

TEST(SessionEvents, UnreadableEventsAreIgnoredAndIdleEnablesTheButtons) {
    Call c;
    ComPtr<FakeSessionEvent> broken(new FakeSessionEvent(RTCSS_INCOMING, c.session.get()));
    broken->stateResult = E_FAIL;
    c.t.deliver(RTCE_SESSION_STATE_CHANGE, broken.get());
    ComPtr<FakeSessionEvent> noSession(new FakeSessionEvent(RTCSS_INCOMING, c.session.get()));
    noSession->sessionResult = E_FAIL;
    c.t.deliver(RTCE_SESSION_STATE_CHANGE, noSession.get());
    EXPECT_EQ(c.t.phone.st.ringing, 0);
    EXPECT_FALSE(c.t.phone.st.session);

    c.t.view.enable(ctl::Pickup, false);
    c.event(RTCSS_IDLE);
    EXPECT_EQ(c.status(), "Idle...");
    EXPECT_TRUE(c.t.view.isEnabled(ctl::Pickup));
    c.event(RTCSS_HOLD);
    EXPECT_EQ(c.status(), "Idle...");
}

#include "calls/Session.h"

#include "calls/CallLink.h"
#include "engine/BalanceQuery.h"
#include "history/CallRecords.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <algorithm>

using namespace rtc;

QString CallerFromUri(const QString& uri) {
    const qsizetype at = uri.indexOf(QLatin1Char('@'));
    if (at < 0)
        return QString();
    const qsizetype colon = uri.indexOf(QLatin1Char(':'));
    const qsizetype start = colon < 0 ? 0 : colon + 1;
    // A ':' after the '@' (a port) leaves nothing between them.
    return start <= at ? uri.mid(start, at - start) : QString();
}

QString DurationText(int seconds) {
    return QString::asprintf("%02d:%02d:%02d", seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

namespace {

void SetButtons(Phone& phone, bool callHistory, bool pickup, bool redial) {
    phone.view.enable(ctl::CallHistory, callHistory);
    phone.view.enable(ctl::Pickup, pickup);
    phone.view.enable(ctl::Redial, redial);
}

void AppendRecord(Phone& phone, CallKind kind, bool write) {
    phone.history.AppendCallRecord(kind, phone.st.caller, phone.clock.now(), write);
}

// The caller of a session, from its first participant's address; empty when it cannot be read.
QString CallerOf(IRTCSession* session) {
    ComPtr<IRTCEnumParticipants> participants;
    if (!session || Failed(session->EnumerateParticipants(participants.put())) || !participants)
        return QString();
    ComPtr<IRTCParticipant> participant;
    ULONG fetched = 0;
    QString uri;
    if (participants->Next(1, participant.put(), &fetched) != S_OK || !participant ||
        Failed(participant->get_UserURI(&uri)))
        return QString();
    return CallerFromUri(uri);
}

// Reads the caller of the current session; on failure shows why and leaves the caller as it was.
bool ReadCaller(Phone& phone) {
    MainState& st = phone.st;
    ComPtr<IRTCEnumParticipants> participants;
    if (!st.session || Failed(st.session->EnumerateParticipants(participants.put())) || !participants) {
        phone.box.show(QStringLiteral("enumerate participant failed"));
        return false;
    }
    ComPtr<IRTCParticipant> participant;
    ULONG fetched = 0;
    const HRESULT hr = participants->Next(1, participant.put(), &fetched);
    participants = nullptr;
    if (hr != S_OK || !participant) {
        phone.box.show(QStringLiteral("get participant failed"));
        return false;
    }
    QString uri;
    if (Failed(participant->get_UserURI(&uri))) {
        participant = nullptr;
        phone.box.show(QStringLiteral("get user uri failed"));
        return false;
    }
    st.caller = CallerFromUri(uri);
    return true;
}

void OnIncoming(Phone& phone) {
    MainState& st = phone.st;
    IMainView& view = phone.view;
    st.rejected = 0;
    SetButtons(phone, false, true, false);
    if (st.minimized) {
        view.restore();
        st.minimized = 0;
    }
    st.missedCall = 1;
    view.startTimer(timer::Flash, kFlashPeriodMs);
    view.setText(ctl::CallTimer, DurationText(0));
    view.setText(ctl::CallStatus, QStringLiteral("Incoming..."));
    st.ringing = 1;
    if (ReadCaller(phone))
        view.setText(ctl::CallStatus, QStringLiteral("Incoming...") + st.caller);
}

void OnAnswering(Phone& phone) {
    MainState& st = phone.st;
    IMainView& view = phone.view;
    SetButtons(phone, false, false, false);
    st.missedCall = 0;
    st.receivedCall = 1;
    AppendRecord(phone, CallKind::Received, !st.caller.isEmpty());
    view.setText(ctl::CallStatus, QStringLiteral("Answering..."));
    view.setText(ctl::CallTimer, DurationText(0));
    view.stopTimer(timer::Flash);
    view.enable(ctl::Account, false);
}

void OnInProgress(Phone& phone) {
    MainState& st = phone.st;
    IMainView& view = phone.view;
    SetButtons(phone, false, false, false);
    view.setText(ctl::CallTimer, DurationText(0));
    view.setText(ctl::CallStatus, QStringLiteral("Inprogress..."));
    view.startTimer(timer::Ringback, kRingbackPeriodMs);
    view.enable(ctl::Account, false);
    st.callInProgress = 1;
    st.callConnected = 0;
}

void OnConnected(Phone& phone) {
    MainState& st = phone.st;
    IMainView& view = phone.view;
    view.stopTimer(timer::Ringback);
    view.enable(ctl::CallHistory, true);
    view.enable(ctl::Redial, true);
    view.setText(ctl::CallStatus, QStringLiteral("Connected..."));
    st.callConnected = 1;
    st.callInProgress = 0;
    st.ringing = 0;
    view.enable(ctl::Account, false);
    view.stopTimer(timer::Flash);
    view.enable(ctl::Pickup, false);
    st.callSeconds = 0;
    view.startTimer(timer::CallDuration, kCallDurationPeriodMs);
    OnPostDialConnected(phone);
}

void OnDisconnected(Phone& phone) {
    MainState& st = phone.st;
    IMainView& view = phone.view;
    SetButtons(phone, true, true, true);
    view.focus(ctl::NumberField);
    view.caretToEnd(ctl::NumberField);
    if (st.ringing && st.missedCall && !st.rejected)
        AppendRecord(phone, CallKind::Missed, true);
    st.ringing = 0;
    st.callInProgress = 0;
    st.callConnected = 0;
    view.stopTimer(timer::CallDuration);
    view.stopTimer(timer::Ringback);
    view.setText(ctl::CallStatus, QStringLiteral("Disconnected..."));
    view.enable(ctl::Account, true);
    CancelPostDial(phone);
    QueryBalance(phone);
    RunPendingCallLink(phone);
}

} // namespace

namespace {

// One call at a time: a call that rings while another is connected, under way or ringing is
// declined as busy at once and listed as missed, so that the user sees who tried.
void DeclineAsBusy(Phone& phone, const ComPtr<IRTCSession>& session) {
    MainState& st = phone.st;
    st.declinedSessions.push_back(session);
    const QString caller = CallerOf(session.get());
    session->Terminate(RTCTR_BUSY);
    if (!caller.isEmpty())
        phone.history.AppendCallRecord(CallKind::Missed, caller, phone.clock.now());
}

// Whether the event belongs to a call declined as busy; its end forgets it.
bool IsDeclined(MainState& st, IRTCSession* session, RTC_SESSION_STATE state) {
    auto& declined = st.declinedSessions;
    const auto it = std::find_if(declined.begin(), declined.end(),
                                 [session](const ComPtr<IRTCSession>& s) { return s.get() == session; });
    if (it == declined.end())
        return false;
    if (state == RTCSS_DISCONNECTED)
        declined.erase(it);
    return true;
}

} // namespace

void OnSessionStateChange(Phone& phone, IRTCSessionStateChangeEvent* event) {
    MainState& st = phone.st;
    RTC_SESSION_STATE state = RTCSS_IDLE;
    if (Failed(event->get_State(&state)))
        return;
    ComPtr<IRTCSession> session;
    const bool known = Succeeded(event->get_Session(session.put())) && session;
    if (known && IsDeclined(st, session.get(), state))
        return;
    if (!st.callConnected && !st.callInProgress && !st.ringing) {
        if (!known)
            return;
        st.session = session;
    } else if (known && st.session && session.get() != st.session.get()) {
        // Another call than the one the window shows: it never changes the display, the marks,
        // the timers, the caller or the current session.
        if (state == RTCSS_INCOMING)
            DeclineAsBusy(phone, session);
        return;
    }
    switch (state) {
    case RTCSS_IDLE:
        SetButtons(phone, true, true, true);
        phone.view.setText(ctl::CallStatus, QStringLiteral("Idle..."));
        break;
    case RTCSS_INCOMING:
        OnIncoming(phone);
        break;
    case RTCSS_ANSWERING:
        OnAnswering(phone);
        break;
    case RTCSS_INPROGRESS:
        OnInProgress(phone);
        break;
    case RTCSS_CONNECTED:
        OnConnected(phone);
        break;
    case RTCSS_DISCONNECTED:
        OnDisconnected(phone);
        break;
    default:
        break;
    }
}

void OnHangup(Phone& phone) {
    MainState& st = phone.st;
    if ((st.callConnected || st.callInProgress) && st.session)
        st.lastResult = st.session->Terminate(RTCTR_NORMAL);
    if (st.ringing) {
        st.receivedCall = 1;
        if (st.session) {
            st.rejected = 1;
            st.session->Terminate(RTCTR_BUSY);
        }
        phone.view.stopTimer(timer::Flash);
        AppendRecord(phone, CallKind::Received, true);
    }
}

bool OnTimer(Phone& phone, int timerId) {
    switch (timerId) {
    case timer::Ringback:
        phone.sound.play(QStringLiteral("ring.wav"));
        return true;
    case timer::Flash:
        phone.view.flash();
        return true;
    case timer::CallDuration:
        phone.view.setText(ctl::CallTimer, DurationText(phone.st.callSeconds));
        ++phone.st.callSeconds;
        return true;
    case timer::PostDial:
        OnPostDialTimer(phone);
        return true;
    case timer::LinkWait:
        OnLinkWaitTimer(phone);
        return true;
    default:
        return false;
    }
}

#include "rtc/linphone/Engine.h"

#include "rtc/linphone/EngineSupport.h"

#include <QTimer>

// The call events a support person reads in the log file (calls/ logs the window's side).
Q_LOGGING_CATEGORY(lcEngineCall, "orvane.call", QtWarningMsg)

namespace rtc::lin {

namespace {

using linphone::Call;

// One RFC 4733 event lasts about 100 ms plus its end packets; the next digit waits that long
// so that quick key presses do not cut each other short.
constexpr int kDtmfSpacingMs = 180;
constexpr int kLevelPollMs = 200;

bool canSendDtmf(Call::State s) {
    return s == Call::State::StreamsRunning || s == Call::State::Connected || s == Call::State::Updating ||
           s == Call::State::UpdatedByRemote;
}

} // namespace

HRESULT Engine::createSession(RTC_SESSION_TYPE type, IRTCProfile* p, IRTCSession** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (type != RTCST_PC_TO_PC && type != RTCST_PC_TO_PHONE)
        return E_NOTIMPL;
    auto* profile = dynamic_cast<Profile*>(p);
    if (p && !profile)
        return E_INVALIDARG;
    *out = new Session(weak_from_this(), profile);
    (*out)->AddRef();
    return S_OK;
}

HRESULT Engine::placeCall(Session& session, const QString& uri, IRTCParticipant** out) {
    if (session.call || session.ended)
        return RTC_E_INVALID_SESSION_STATE;
    auto address = linphone::Factory::get()->createAddress(toStd(uri.trimmed()));
    if (!address || !address->isSip() || address->getDomain().empty())
        return RTC_E_INVALID_SIP_URL;

    std::shared_ptr<linphone::Account> account;
    if (Profile* profile = session.profile())
        account = profile->account.lock();
    else
        account = core_->getDefaultAccount();
    if (!accountInCore(core_, account))
        return RTC_E_INVALID_PROFILE;
    // Calls go out through the default account's proxy.
    if (core_->getDefaultAccount() != account)
        core_->setDefaultAccount(account);

    followSoundServer();
    auto params = core_->createCallParams(nullptr);
    if (!params)
        return E_FAIL;
    params->enableVideo(false);

    ComPtr<IRTCParticipant> participant(new Participant(fromStd(address->asStringUriOnly())));
    session.remote = participant;
    ComPtr<Session> keep(&session);
    placing_ = &session;
    auto call = core_->inviteAddressWithParams(address, params);
    placing_ = nullptr;
    if (!call) {
        session.remote = nullptr;
        return E_FAIL;
    }
    if (!session.call && !session.ended) {
        // No state reported yet: bind the call now.
        session.call = call;
        calls_[call.get()] = keep;
    }
    *out = participant.detach();
    wake();
    return S_OK;
}

HRESULT Engine::answer(Session& session) {
    auto call = session.call;
    if (!call || session.ended || !isIncomingRinging(call->getState()))
        return RTC_E_INVALID_SESSION_STATE;
    followSoundServer();
    // Accepting may report Connected at once: "answering" comes first.
    raiseSessionState(session, RTCSS_ANSWERING, 0);
    auto params = core_->createCallParams(call);
    if (params)
        params->enableVideo(false);
    const HRESULT hr = call->acceptWithParams(params) == 0 ? S_OK : E_FAIL;
    wake();
    return hr;
}

HRESULT Engine::terminate(Session& session, RTC_TERMINATE_REASON reason) {
    auto call = session.call;
    if (!call || session.ended)
        return RTC_E_INVALID_SESSION_STATE;
    HRESULT hr = S_OK;
    if (isIncomingRinging(call->getState())) {
        linphone::Reason why = linphone::Reason::Declined; // 603
        if (reason == RTCTR_BUSY)
            why = linphone::Reason::Busy; // 486
        else if (reason == RTCTR_DND)
            why = linphone::Reason::DoNotDisturb;
        hr = call->decline(why) == 0 ? S_OK : E_FAIL;
    } else {
        // A BYE once connected, a CANCEL while the far end rings.
        hr = call->terminate() == 0 ? S_OK : E_FAIL;
    }
    wake();
    return hr;
}

void Engine::onCallStateChanged(const std::shared_ptr<linphone::Call>& call, int s) {
    const auto state = static_cast<Call::State>(s);
    qCDebug(lcEngine, "call %p: state %d, code %d", static_cast<const void*>(call.get()), s,
            static_cast<int>(errorCode(call->getErrorInfo())));
    ComPtr<Session> session;
    if (auto it = calls_.find(call.get()); it != calls_.end()) {
        session = it->second;
    } else if (placing_ && !placing_->call && call->getDir() == Call::Dir::Outgoing) {
        session = ComPtr<Session>(placing_);
        session->call = call;
        calls_[call.get()] = session;
    } else if (state == Call::State::IncomingReceived) {
        if (listenMode_ == RTCLM_NONE) {
            // Declined from the loop, not from inside liblinphone's own notification. The lambda
            // keeps the call's wrapper alive; it goes with the engine's timer if the engine stops.
            QTimer::singleShot(0, iterateTimer_.get(), [call] {
                if (isIncomingRinging(call->getState()))
                    call->decline(linphone::Reason::Declined);
            });
            return;
        }
        session = ComPtr<Session>(new Session(weak_from_this(), nullptr));
        session->call = call;
        if (auto remote = call->getRemoteAddress())
            session->remote = ComPtr<IRTCParticipant>(new Participant(fromStd(remote->asStringUriOnly())));
        calls_[call.get()] = session;
    } else {
        return;
    }

    switch (state) {
    case Call::State::OutgoingInit:
    case Call::State::IncomingReceived:
    case Call::State::Connected:
    case Call::State::End:
    case Call::State::Error:
        if (auto remote = call->getRemoteAddress())
            qCInfo(lcEngineCall, "call %s %s: %s (SIP status %d)",
                   call->getDir() == Call::Dir::Incoming ? "from" : "to", remote->asStringUriOnly().c_str(),
                   state == Call::State::OutgoingInit       ? "calling"
                   : state == Call::State::IncomingReceived ? "ringing"
                   : state == Call::State::Connected        ? "connected"
                   : state == Call::State::End              ? "ended"
                                                            : "failed",
                   static_cast<int>(errorCode(call->getErrorInfo())));
        break;
    default:
        break;
    }
    switch (state) {
    case Call::State::OutgoingInit:
    case Call::State::OutgoingProgress:
    case Call::State::OutgoingRinging:
    case Call::State::OutgoingEarlyMedia:
        raiseSessionState(*session.get(), RTCSS_INPROGRESS, 0);
        break;
    case Call::State::IncomingReceived:
    case Call::State::IncomingEarlyMedia:
        raiseSessionState(*session.get(), RTCSS_INCOMING, 0);
        break;
    case Call::State::Connected:
    case Call::State::StreamsRunning:
        applySpeakerMute(call);
        // The levels are looked at only while there is sound to look at.
        if (!levelTimer_->isActive())
            levelTimer_->start(kLevelPollMs);
        raiseSessionState(*session.get(), RTCSS_CONNECTED, 200);
        break;
    case Call::State::End:
    case Call::State::Error:
    case Call::State::Released:
        raiseSessionState(*session.get(), RTCSS_DISCONNECTED, errorCode(call->getErrorInfo()));
        break;
    default:
        break;
    }

    if (state == Call::State::Released) {
        calls_.erase(call.get());
        session->call.reset();
        if (calls_.empty()) {
            dtmfQueue_.clear();
            levelTimer_->stop();
            // A change of sound server seen during the call.
            QTimer::singleShot(0, iterateTimer_.get(), [weak = weak_from_this()] {
                if (auto engine = weak.lock())
                    engine->followSoundServer();
            });
        }
    }
}

// ---------------------------------------------------------------- tones and sound

HRESULT Engine::sendDtmf(RTC_DTMF tone) {
    char digit = 0;
    if (tone >= 0 && tone <= 9)
        digit = static_cast<char>('0' + tone);
    else if (tone == RTC_DTMF_STAR)
        digit = '*';
    else if (tone == RTC_DTMF_POUND)
        digit = '#';
    else
        return E_INVALIDARG;
    auto call = core_->getCurrentCall();
    if (!call || !canSendDtmf(call->getState()))
        return RTC_E_INVALID_SESSION_STATE;
    dtmfQueue_.push_back(digit);
    if (!dtmfTimer_->isActive())
        sendNextDtmf();
    return S_OK;
}

void Engine::sendNextDtmf() {
    if (dtmfQueue_.empty() || !core_)
        return;
    const char digit = dtmfQueue_.front();
    dtmfQueue_.pop_front();
    auto call = core_->getCurrentCall();
    if (!call || !canSendDtmf(call->getState())) {
        dtmfQueue_.clear();
        return;
    }
    if (call->sendDtmf(digit) != 0)
        qCWarning(lcEngine, "DTMF '%c' was not sent", digit);
    // Running also when the queue is empty: a digit asked right after waits its turn.
    dtmfTimer_->start(kDtmfSpacingMs);
}

} // namespace rtc::lin

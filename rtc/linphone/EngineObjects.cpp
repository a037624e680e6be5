#include "rtc/linphone/EngineObjects.h"

#include "rtc/linphone/Engine.h"

namespace rtc::lin {

namespace {

template <class T> HRESULT give(T* out, T value) {
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

} // namespace

HRESULT RegistrationEvent::get_State(RTC_REGISTRATION_STATE* state) {
    return give(state, state_);
}
HRESULT RegistrationEvent::get_StatusCode(long* code) {
    return give(code, code_);
}

HRESULT SessionStateEvent::get_State(RTC_SESSION_STATE* state) {
    return give(state, state_);
}
HRESULT SessionStateEvent::get_StatusCode(long* code) {
    return give(code, code_);
}
HRESULT SessionStateEvent::get_Session(IRTCSession** session) {
    if (!session)
        return E_POINTER;
    *session = session_.get();
    if (*session)
        (*session)->AddRef();
    return *session ? S_OK : E_FAIL;
}

HRESULT IntensityEvent::get_Level(long* level) {
    return give(level, level_);
}
HRESULT IntensityEvent::get_Min(long* min) {
    return give(min, min_);
}
HRESULT IntensityEvent::get_Max(long* max) {
    return give(max, max_);
}
HRESULT IntensityEvent::get_Direction(RTC_AUDIO_DEVICE* direction) {
    return give(direction, direction_);
}

HRESULT Participant::get_UserURI(QString* uri) {
    return give(uri, uri_);
}

HRESULT ParticipantEnumeration::Next(ULONG count, IRTCParticipant** out, ULONG* fetched) {
    if (!out || (!fetched && count != 1))
        return E_POINTER;
    ULONG n = 0;
    while (n < count && next_ < items_.size()) {
        out[n] = items_[next_++].get();
        out[n]->AddRef();
        ++n;
    }
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

Session::~Session() = default;

HRESULT Session::AddParticipant(const QString& uri, const QString&, IRTCParticipant** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    auto engine = engine_.lock();
    if (!engine || !engine->running())
        return RTC_E_CLIENT_NOT_INITIALIZED;
    return engine->placeCall(*this, uri, out);
}

HRESULT Session::Answer() {
    auto engine = engine_.lock();
    if (!engine || !engine->running())
        return RTC_E_CLIENT_NOT_INITIALIZED;
    return engine->answer(*this);
}

HRESULT Session::Terminate(RTC_TERMINATE_REASON reason) {
    auto engine = engine_.lock();
    if (!engine || !engine->running())
        return RTC_E_CLIENT_NOT_INITIALIZED;
    return engine->terminate(*this, reason);
}

HRESULT Session::EnumerateParticipants(IRTCEnumParticipants** out) {
    if (!out)
        return E_POINTER;
    std::vector<ComPtr<IRTCParticipant>> items;
    if (remote)
        items.push_back(remote);
    *out = new ParticipantEnumeration(std::move(items));
    (*out)->AddRef();
    return S_OK;
}

} // namespace rtc::lin

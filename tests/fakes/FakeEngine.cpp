#include "fakes/FakeEngine.h"

namespace fake {

using namespace rtc;

namespace {

class FakeEnumParticipants final : public RtcObject<IRTCEnumParticipants> {
public:
    FakeEnumParticipants(QString uri, HRESULT nextResult, HRESULT uriResult)
        : uri_(std::move(uri)), nextResult_(nextResult), uriResult_(uriResult) {}
    HRESULT Next(ULONG count, IRTCParticipant** out, ULONG* fetched) override {
        if (nextResult_ != S_OK || done_) {
            *out = nullptr;
            if (fetched)
                *fetched = 0;
            return nextResult_ != S_OK ? nextResult_ : S_FALSE;
        }
        done_ = true;
        *out = ComPtr<IRTCParticipant>(new FakeParticipant(uri_, uriResult_)).detach();
        if (fetched)
            *fetched = 1;
        return count == 1 ? S_OK : S_FALSE;
    }

private:
    QString uri_;
    HRESULT nextResult_;
    HRESULT uriResult_;
    bool done_ = false;
};

class FakeConnectionPoint final : public RtcObject<IConnectionPoint> {
public:
    explicit FakeConnectionPoint(FakeClient* client) : client_(client) {}
    HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) override {
        if (Failed(client_->adviseResult))
            return client_->adviseResult;
        HRESULT hr = sink->QueryInterface(IID::IRTCEventNotification, client_->sink.putVoid());
        if (Failed(hr))
            return hr;
        *cookie = 42;
        client_->calls << QStringLiteral("Advise");
        return S_OK;
    }
    HRESULT Unadvise(std::uint32_t) override {
        client_->sink = nullptr;
        return S_OK;
    }

private:
    ComPtr<FakeClient> client_;
};

} // namespace

void FakeSession::note(const QString& what) {
    calls << what;
    if (log_)
        *log_ << what;
}

HRESULT FakeSession::AddParticipant(const QString& uri, const QString& name, IRTCParticipant** out) {
    note(QStringLiteral("AddParticipant(%1)").arg(uri));
    *out = nullptr;
    if (addParticipantResult != S_OK)
        return addParticipantResult;
    *out = ComPtr<IRTCParticipant>(new FakeParticipant(uri)).detach();
    return S_OK;
}

HRESULT FakeSession::Answer() {
    note(QStringLiteral("Answer"));
    return answerResult;
}

HRESULT FakeSession::Terminate(RTC_TERMINATE_REASON reason) {
    note(QStringLiteral("Terminate(%1)").arg(int(reason)));
    return terminateResult;
}

HRESULT FakeSession::EnumerateParticipants(IRTCEnumParticipants** out) {
    *out = nullptr;
    if (Failed(enumerateResult))
        return enumerateResult;
    *out = ComPtr<IRTCEnumParticipants>(new FakeEnumParticipants(remoteUri, nextResult, uriResult)).detach();
    return S_OK;
}

int FakeClient::liveClients = 0;

FakeClient::FakeClient() {
    ++liveClients;
}
FakeClient::~FakeClient() {
    --liveClients;
}

HRESULT FakeClient::QueryInterface(IID iid, void** out) {
    if ((iid == IID::IConnectionPointContainer && refuseConnectionPoints) ||
        (iid == IID::IRTCClientProvisioning && refuseProvisioning)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    return RtcObject::QueryInterface(iid, out);
}

HRESULT FakeClient::Initialize() {
    calls << QStringLiteral("Initialize");
    return initializeResult;
}

HRESULT FakeClient::put_EventFilter(long filter) {
    calls << QStringLiteral("put_EventFilter(0x%1)").arg(filter, 0, 16);
    return S_OK;
}

HRESULT FakeClient::put_ListenForIncomingSessions(RTC_LISTEN_MODE mode) {
    calls << QStringLiteral("put_ListenForIncomingSessions(%1)").arg(int(mode));
    return listenResult;
}

HRESULT FakeClient::get_Volume(RTC_AUDIO_DEVICE device, long* volume) {
    calls << QStringLiteral("get_Volume(%1)").arg(int(device));
    *volume = volumes[device == RTCAD_MICROPHONE ? 1 : 0];
    return S_OK;
}

HRESULT FakeClient::put_Volume(RTC_AUDIO_DEVICE device, long volume) {
    calls << QStringLiteral("put_Volume(%1,%2)").arg(int(device)).arg(volume);
    volumes[device == RTCAD_MICROPHONE ? 1 : 0] = volume;
    return S_OK;
}

HRESULT FakeClient::CreateSession(RTC_SESSION_TYPE type, const QString&, IRTCProfile* profile, long flags,
                                  IRTCSession** out) {
    calls << QStringLiteral("CreateSession(%1,%2,%3)")
                 .arg(int(type))
                 .arg(profile ? "profile" : "null")
                 .arg(flags);
    *out = nullptr;
    if (createSessionResult != S_OK)
        return createSessionResult;
    lastSession = ComPtr<FakeSession>(new FakeSession(&calls));
    lastSession->addParticipantResult = addParticipantResult;
    *out = ComPtr<IRTCSession>(lastSession.get()).detach();
    return S_OK;
}

HRESULT FakeClient::SendDTMF(RTC_DTMF tone) {
    calls << QStringLiteral("SendDTMF(%1)").arg(int(tone));
    return S_OK;
}

HRESULT FakeClient::InvokeTuningWizard(QWidget*) {
    calls << QStringLiteral("InvokeTuningWizard");
    return S_OK;
}

HRESULT FakeClient::CreateProfile(const QString& profileXml, IRTCProfile** out) {
    calls << QStringLiteral("CreateProfile");
    lastProfileXml = profileXml;
    *out = nullptr;
    if (createProfileResult != S_OK)
        return createProfileResult;
    *out = ComPtr<IRTCProfile>(new FakeProfile).detach();
    return S_OK;
}

HRESULT FakeClient::EnableProfile(IRTCProfile*, long registerFlags) {
    calls << QStringLiteral("EnableProfile(%1)").arg(registerFlags);
    return enableProfileResult;
}

HRESULT FakeClient::DisableProfile(IRTCProfile*) {
    calls << QStringLiteral("DisableProfile");
    return disableProfileResult;
}

HRESULT FakeClient::FindConnectionPoint(IID iid, IConnectionPoint** out) {
    *out = nullptr;
    if (Failed(findConnectionPointResult))
        return findConnectionPointResult;
    if (iid != IID::IRTCEventNotification)
        return E_NOINTERFACE;
    *out = ComPtr<IConnectionPoint>(new FakeConnectionPoint(this)).detach();
    return S_OK;
}

HRESULT FakeClient::PlaySoundFile(const QString& path) {
    playedFiles << path;
    return S_OK;
}

HRESULT FakeClient::HasSoundDevice(bool* present) {
    *present = soundDevice;
    return S_OK;
}

void FakeClient::raise(RTC_EVENT type, IUnknown* event) {
    if (sink)
        sink->Event(type, event);
}

} // namespace fake

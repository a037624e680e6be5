#include "rtc/linphone/LinphoneClient.h"

#include "rtc/ComPtr.h"
#include "rtc/RtcObject.h"
#include "rtc/linphone/Engine.h"

namespace rtc::lin {
namespace {

class Client;

// The single connection point of the client: event sinks for IRTCEventNotification. It keeps
// the client alive while it is held, as a connection point does for its container.
class ConnectionPoint final : public RtcObject<IConnectionPoint> {
public:
    ConnectionPoint(IRTCClient* owner, std::shared_ptr<Engine> engine)
        : owner_(owner), engine_(std::move(engine)) {}
    HRESULT Advise(IUnknown* sink, std::uint32_t* cookie) override { return engine_->advise(sink, cookie); }
    HRESULT Unadvise(std::uint32_t cookie) override { return engine_->unadvise(cookie); }

private:
    ComPtr<IRTCClient> owner_;
    std::shared_ptr<Engine> engine_;
};

class Client final
    : public RtcObject<IRTCClient, IRTCClientProvisioning, IConnectionPointContainer, IEngineAudio> {
public:
    explicit Client(const EngineOptions& options) : engine_(std::make_shared<Engine>(options)) {}
    // Releasing the last reference stops the core.
    ~Client() override { engine_->shutdown(); }

    // IRTCClient
    HRESULT Initialize() override { return engine_->initialize(); }
    HRESULT put_EventFilter(long filter) override {
        return ready() ? engine_->setEventFilter(filter) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT put_ListenForIncomingSessions(RTC_LISTEN_MODE mode) override {
        return ready() ? engine_->setListenMode(mode) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT get_Volume(RTC_AUDIO_DEVICE device, long* volume) override {
        return ready() ? engine_->getVolume(device, volume) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT put_Volume(RTC_AUDIO_DEVICE device, long volume) override {
        return ready() ? engine_->putVolume(device, volume) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT CreateSession(RTC_SESSION_TYPE type, const QString&, IRTCProfile* profile, long,
                          IRTCSession** out) override {
        if (out)
            *out = nullptr;
        return ready() ? engine_->createSession(type, profile, out) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT SendDTMF(RTC_DTMF tone) override {
        return ready() ? engine_->sendDtmf(tone) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT InvokeTuningWizard(QWidget* parent) override {
        return ready() ? engine_->invokeTuningWizard(parent) : RTC_E_CLIENT_NOT_INITIALIZED;
    }

    // IRTCClientProvisioning
    HRESULT CreateProfile(const QString& xml, IRTCProfile** out) override {
        if (out)
            *out = nullptr;
        return ready() ? engine_->createProfile(xml, out) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT EnableProfile(IRTCProfile* profile, long flags) override {
        return ready() ? engine_->enableProfile(profile, flags) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT DisableProfile(IRTCProfile* profile) override {
        return ready() ? engine_->disableProfile(profile) : RTC_E_CLIENT_NOT_INITIALIZED;
    }

    // IConnectionPointContainer
    HRESULT FindConnectionPoint(IID iid, IConnectionPoint** out) override {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID::IRTCEventNotification)
            return E_NOINTERFACE;
        *out = new ConnectionPoint(this, engine_);
        (*out)->AddRef();
        return S_OK;
    }

    // IEngineAudio
    HRESULT PlaySoundFile(const QString& path) override {
        return ready() ? engine_->playSoundFile(path) : RTC_E_CLIENT_NOT_INITIALIZED;
    }
    HRESULT HasSoundDevice(bool* present) override {
        return ready() ? engine_->hasSoundDevice(present) : RTC_E_CLIENT_NOT_INITIALIZED;
    }

private:
    bool ready() const { return engine_->running(); }

    std::shared_ptr<Engine> engine_;
};

} // namespace
} // namespace rtc::lin

rtc::HRESULT CreateLinphoneClient(const EngineOptions& options, rtc::IRTCClient** out) {
    if (!out)
        return rtc::E_POINTER;
    *out = new rtc::lin::Client(options);
    (*out)->AddRef();
    return rtc::S_OK;
}

void PrepareLinphoneClient() {
    rtc::lin::prepareEngine();
}

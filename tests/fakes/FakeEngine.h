// A scripted engine for unit tests: every operation's result can be set, every call is logged,
// and the test raises events through the sink the phone registered.
#pragma once

#include "rtc/ComPtr.h"
#include "rtc/RtcObject.h"

#include <QStringList>

#include <functional>
#include <map>

namespace fake {

// Counts engine objects destroyed, so tests can check each is released exactly once.
struct Lifetime {
    int destroyed = 0;
};

class FakeParticipant final : public rtc::RtcObject<rtc::IRTCParticipant> {
public:
    explicit FakeParticipant(QString uri, rtc::HRESULT uriResult = rtc::S_OK)
        : uri_(std::move(uri)), uriResult_(uriResult) {}
    rtc::HRESULT get_UserURI(QString* uri) override {
        if (rtc::Failed(uriResult_))
            return uriResult_;
        *uri = uri_;
        return rtc::S_OK;
    }

private:
    QString uri_;
    rtc::HRESULT uriResult_;
};

class FakeSession final : public rtc::RtcObject<rtc::IRTCSession> {
public:
    explicit FakeSession(QStringList* log = nullptr) : log_(log) {}
    rtc::HRESULT AddParticipant(const QString& uri, const QString& name, rtc::IRTCParticipant** out) override;
    rtc::HRESULT Answer() override;
    rtc::HRESULT Terminate(rtc::RTC_TERMINATE_REASON reason) override;
    rtc::HRESULT EnumerateParticipants(rtc::IRTCEnumParticipants** out) override;

    QString remoteUri = QStringLiteral("sip:5551000@127.0.0.1");
    rtc::HRESULT addParticipantResult = rtc::S_OK;
    rtc::HRESULT answerResult = rtc::S_OK;
    rtc::HRESULT terminateResult = rtc::S_OK;
    rtc::HRESULT enumerateResult = rtc::S_OK;
    rtc::HRESULT nextResult = rtc::S_OK;
    rtc::HRESULT uriResult = rtc::S_OK;
    QStringList calls;

private:
    void note(const QString& what);
    QStringList* log_;
};

class FakeClient final : public rtc::RtcObject<rtc::IRTCClient, rtc::IRTCClientProvisioning,
                                               rtc::IConnectionPointContainer, rtc::IEngineAudio> {
public:
    FakeClient();
    ~FakeClient() override;

    // IRTCClient
    rtc::HRESULT Initialize() override;
    rtc::HRESULT put_EventFilter(long filter) override;
    rtc::HRESULT put_ListenForIncomingSessions(rtc::RTC_LISTEN_MODE mode) override;
    rtc::HRESULT get_Volume(rtc::RTC_AUDIO_DEVICE device, long* volume) override;
    rtc::HRESULT put_Volume(rtc::RTC_AUDIO_DEVICE device, long volume) override;
    rtc::HRESULT CreateSession(rtc::RTC_SESSION_TYPE type, const QString& localPhoneUri,
                               rtc::IRTCProfile* profile, long flags, rtc::IRTCSession** out) override;
    rtc::HRESULT SendDTMF(rtc::RTC_DTMF tone) override;
    rtc::HRESULT InvokeTuningWizard(QWidget* parent) override;
    // IRTCClientProvisioning
    rtc::HRESULT CreateProfile(const QString& profileXml, rtc::IRTCProfile** out) override;
    rtc::HRESULT EnableProfile(rtc::IRTCProfile* profile, long registerFlags) override;
    rtc::HRESULT DisableProfile(rtc::IRTCProfile* profile) override;
    // IConnectionPointContainer
    rtc::HRESULT FindConnectionPoint(rtc::IID iid, rtc::IConnectionPoint** out) override;
    // IEngineAudio
    rtc::HRESULT PlaySoundFile(const QString& path) override;
    rtc::HRESULT HasSoundDevice(bool* present) override;
    // Refusals of whole interfaces.
    rtc::HRESULT QueryInterface(rtc::IID iid, void** out) override;

    // Script.
    rtc::HRESULT initializeResult = rtc::S_OK;
    rtc::HRESULT listenResult = rtc::S_OK;
    bool refuseConnectionPoints = false;
    rtc::HRESULT findConnectionPointResult = rtc::S_OK;
    rtc::HRESULT adviseResult = rtc::S_OK;
    bool refuseProvisioning = false;
    rtc::HRESULT createProfileResult = rtc::S_OK;
    rtc::HRESULT enableProfileResult = rtc::S_OK;
    rtc::HRESULT disableProfileResult = rtc::S_OK;
    rtc::HRESULT createSessionResult = rtc::S_OK;
    rtc::HRESULT addParticipantResult = rtc::S_OK;
    long volumes[2] = {65535, 65535};
    bool soundDevice = true;

    // What happened.
    QStringList calls;
    QString lastProfileXml;
    QStringList playedFiles;
    rtc::ComPtr<FakeSession> lastSession;
    rtc::ComPtr<rtc::IRTCEventNotification> sink;
    // The test's own reference keeps the client alive across a refused start.

    // Raises an event through the registered sink, as the engine does.
    void raise(rtc::RTC_EVENT type, rtc::IUnknown* event);

    static int liveClients;
};

class FakeProfile final : public rtc::RtcObject<rtc::IRTCProfile> {};

class FakeRegEvent final : public rtc::RtcObject<rtc::IRTCRegistrationStateChangeEvent> {
public:
    FakeRegEvent(rtc::RTC_REGISTRATION_STATE s, Lifetime* life = nullptr) : state(s), life_(life) {}
    ~FakeRegEvent() override {
        if (life_)
            ++life_->destroyed;
    }
    rtc::HRESULT get_State(rtc::RTC_REGISTRATION_STATE* s) override {
        *s = state;
        return stateResult;
    }
    rtc::HRESULT get_StatusCode(long* c) override {
        *c = statusCode;
        return statusResult;
    }
    rtc::RTC_REGISTRATION_STATE state;
    long statusCode = 200;
    rtc::HRESULT stateResult = rtc::S_OK;
    rtc::HRESULT statusResult = rtc::S_OK;

private:
    Lifetime* life_;
};

class FakeSessionEvent final : public rtc::RtcObject<rtc::IRTCSessionStateChangeEvent> {
public:
    FakeSessionEvent(rtc::RTC_SESSION_STATE s, rtc::IRTCSession* session, Lifetime* life = nullptr)
        : state(s), session_(session), life_(life) {}
    ~FakeSessionEvent() override {
        if (life_)
            ++life_->destroyed;
    }
    rtc::HRESULT get_State(rtc::RTC_SESSION_STATE* s) override {
        *s = state;
        return stateResult;
    }
    rtc::HRESULT get_Session(rtc::IRTCSession** out) override {
        if (rtc::Failed(sessionResult)) {
            *out = nullptr;
            return sessionResult;
        }
        *out = session_.get();
        if (*out)
            (*out)->AddRef();
        return rtc::S_OK;
    }
    rtc::HRESULT get_StatusCode(long* c) override {
        *c = 0;
        return rtc::S_OK;
    }
    rtc::RTC_SESSION_STATE state;
    rtc::HRESULT stateResult = rtc::S_OK;
    rtc::HRESULT sessionResult = rtc::S_OK;

private:
    rtc::ComPtr<rtc::IRTCSession> session_;
    Lifetime* life_;
};

class FakeIntensityEvent final : public rtc::RtcObject<rtc::IRTCIntensityEvent> {
public:
    FakeIntensityEvent(rtc::RTC_AUDIO_DEVICE d, long mn, long mx, long lv, Lifetime* life = nullptr)
        : direction(d), min(mn), max(mx), level(lv), life_(life) {}
    ~FakeIntensityEvent() override {
        if (life_)
            ++life_->destroyed;
    }
    rtc::HRESULT get_Level(long* v) override {
        *v = level;
        return rtc::S_OK;
    }
    rtc::HRESULT get_Min(long* v) override {
        *v = min;
        return rtc::S_OK;
    }
    rtc::HRESULT get_Max(long* v) override {
        *v = max;
        return rtc::S_OK;
    }
    rtc::HRESULT get_Direction(rtc::RTC_AUDIO_DEVICE* d) override {
        *d = direction;
        return directionResult;
    }
    rtc::RTC_AUDIO_DEVICE direction;
    long min, max, level;
    rtc::HRESULT directionResult = rtc::S_OK;

private:
    Lifetime* life_;
};

// An event object of a kind the phone does not read (client, media events).
class FakeOtherEvent final : public rtc::RtcObject<rtc::IRTCProfile> {
public:
    explicit FakeOtherEvent(Lifetime* life = nullptr) : life_(life) {}
    ~FakeOtherEvent() override {
        if (life_)
            ++life_->destroyed;
    }

private:
    Lifetime* life_;
};

} // namespace fake

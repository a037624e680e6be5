// The counted objects the liblinphone engine hands out: events, participants, their
// enumeration, profiles and sessions. Profiles and sessions reach the engine through a weak
// reference, so they may outlive the client (a sink may keep an event's session) and then only
// answer that the client is gone.
#pragma once

#include "rtc/ComPtr.h"
#include "rtc/RtcObject.h"
#include "rtc/linphone/ProvisioningProfile.h"

#include <memory>
#include <vector>

namespace linphone {
class Account;
class Call;
} // namespace linphone

namespace rtc::lin {

class Engine;

class RegistrationEvent final : public RtcObject<IRTCRegistrationStateChangeEvent> {
public:
    RegistrationEvent(RTC_REGISTRATION_STATE state, long statusCode) : state_(state), code_(statusCode) {}
    HRESULT get_State(RTC_REGISTRATION_STATE* state) override;
    HRESULT get_StatusCode(long* code) override;

private:
    RTC_REGISTRATION_STATE state_;
    long code_;
};

class SessionStateEvent final : public RtcObject<IRTCSessionStateChangeEvent> {
public:
    SessionStateEvent(RTC_SESSION_STATE state, IRTCSession* session, long statusCode)
        : state_(state), session_(session), code_(statusCode) {}
    HRESULT get_State(RTC_SESSION_STATE* state) override;
    HRESULT get_Session(IRTCSession** session) override;
    HRESULT get_StatusCode(long* code) override;

private:
    RTC_SESSION_STATE state_;
    ComPtr<IRTCSession> session_;
    long code_;
};

class IntensityEvent final : public RtcObject<IRTCIntensityEvent> {
public:
    IntensityEvent(RTC_AUDIO_DEVICE direction, long min, long max, long level)
        : direction_(direction), min_(min), max_(max), level_(level) {}
    HRESULT get_Level(long* level) override;
    HRESULT get_Min(long* min) override;
    HRESULT get_Max(long* max) override;
    HRESULT get_Direction(RTC_AUDIO_DEVICE* direction) override;

private:
    RTC_AUDIO_DEVICE direction_;
    long min_;
    long max_;
    long level_;
};

class Participant final : public RtcObject<IRTCParticipant> {
public:
    explicit Participant(QString uri) : uri_(std::move(uri)) {}
    HRESULT get_UserURI(QString* uri) override;

private:
    QString uri_;
};

class ParticipantEnumeration final : public RtcObject<IRTCEnumParticipants> {
public:
    explicit ParticipantEnumeration(std::vector<ComPtr<IRTCParticipant>> items) : items_(std::move(items)) {}
    HRESULT Next(ULONG count, IRTCParticipant** out, ULONG* fetched) override;

private:
    std::vector<ComPtr<IRTCParticipant>> items_;
    std::size_t next_ = 0;
};

class Profile final : public RtcObject<IRTCProfile> {
public:
    explicit Profile(ProvisioningProfile data) : data_(std::move(data)) {}
    const ProvisioningProfile& data() const { return data_; }
    // The liblinphone account made for this profile by EnableProfile. Weak: the core owns its
    // accounts, and a profile may outlive the core.
    std::weak_ptr<linphone::Account> account;

private:
    ProvisioningProfile data_;
};

class Session final : public RtcObject<IRTCSession> {
public:
    // `profile` chooses the account outgoing calls use (none for incoming calls).
    Session(std::weak_ptr<Engine> engine, Profile* profile) : profile_(profile), engine_(std::move(engine)) {}
    ~Session() override;

    HRESULT AddParticipant(const QString& uri, const QString& name, IRTCParticipant** out) override;
    HRESULT Answer() override;
    HRESULT Terminate(RTC_TERMINATE_REASON reason) override;
    HRESULT EnumerateParticipants(IRTCEnumParticipants** out) override;

    // Engine bookkeeping, on the UI thread only.
    Profile* profile() const { return profile_.get(); }
    std::shared_ptr<linphone::Call> call;
    ComPtr<IRTCParticipant> remote;
    RTC_SESSION_STATE lastState = RTCSS_IDLE;
    bool ended = false;

private:
    ComPtr<Profile> profile_;
    std::weak_ptr<Engine> engine_;
};

} // namespace rtc::lin

// The engine's working part: one liblinphone Core driven from the UI thread, its callbacks turned
// into engine events for the advised sinks. The core is iterated as soon as its SIP socket has
// something to read or the program asks for something, often while a call or a transaction is
// under way, and once a second otherwise. The client object
// (LinphoneClient.cpp) owns it; profiles and sessions hold it weakly.
#pragma once

#include "rtc/ComPtr.h"
#include "rtc/linphone/EngineObjects.h"
#include "rtc/linphone/LinphoneClient.h"
#include "rtc/linphone/SoundServer.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;
class QWidget;

namespace linphone {
class Core;
class CoreListener;
class Account;
class Call;
} // namespace linphone

namespace rtc::lin {

class NetworkWatch;
class SleepWatch;

class Engine : public std::enable_shared_from_this<Engine> {
public:
    explicit Engine(EngineOptions options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    HRESULT initialize();
    // Detaches the sinks, ends the calls and stops the core; the engine stays unusable after.
    void shutdown();
    bool running() const;

    HRESULT advise(IUnknown* sink, std::uint32_t* cookie);
    HRESULT unadvise(std::uint32_t cookie);
    HRESULT setEventFilter(long filter);
    HRESULT setListenMode(RTC_LISTEN_MODE mode);
    HRESULT getVolume(RTC_AUDIO_DEVICE device, long* volume);
    HRESULT putVolume(RTC_AUDIO_DEVICE device, long volume);

    HRESULT createProfile(const QString& xml, IRTCProfile** out);
    HRESULT enableProfile(IRTCProfile* profile, long flags);
    HRESULT disableProfile(IRTCProfile* profile);

    HRESULT createSession(RTC_SESSION_TYPE type, IRTCProfile* profile, IRTCSession** out);
    HRESULT sendDtmf(RTC_DTMF tone);
    HRESULT invokeTuningWizard(QWidget* parent);
    HRESULT playSoundFile(const QString& path);
    HRESULT hasSoundDevice(bool* present);

    // Session operations.
    HRESULT placeCall(Session& session, const QString& uri, IRTCParticipant** out);
    HRESULT answer(Session& session);
    HRESULT terminate(Session& session, RTC_TERMINATE_REASON reason);

    // liblinphone callbacks, forwarded by the core listener.
    void onRegistrationStateChanged(const std::shared_ptr<linphone::Account>& account, int state);
    void onCallStateChanged(const std::shared_ptr<linphone::Call>& call, int state);

private:
    struct AccountRecord {
        std::shared_ptr<linphone::Account> account;
        RTC_REGISTRATION_STATE last = RTCRS_NOT_REGISTERED;
        bool disabling = false;  // DisableProfile was asked: Progress means unregistering
        bool rejected = false;   // the registrar refused the credentials; silent until the next EnableProfile
        bool retrying = false;   // the registrar could not be reached or failed: registering again later
        bool superseded = false; // a later login replaced it: logged off without a word
        int retries = 0;         // failed attempts in a row
        bool noNetwork = false;  // the last event said "no network"
        QString publicAddress{}; // where the server last saw the phone come from (received:rport)
    };

    void raise(RTC_EVENT type, IUnknown* event);
    void raiseSessionState(Session& session, RTC_SESSION_STATE state, long statusCode);
    void raiseRegistrationState(AccountRecord& record, RTC_REGISTRATION_STATE state, long statusCode);

    // Staying reachable (EngineNetwork.cpp): the network's comings and goings, sleep, and the
    // address the server sees.
    void startNetworkWatch();
    void stopNetworkWatch();
    void checkNetwork();
    void restartTransports(bool up);
    void onWoke(qint64 asleepMs);
    void probeRegistrations();
    void registerLiveAccountsAgain();
    void notePublicAddress(AccountRecord& record);
    QString networkTarget();
    AccountRecord* findRecord(const linphone::Account* account);
    void removeFinishedAccounts(const linphone::Account* keep);
    void supersedeAccountsOtherThan(const linphone::Account* keep);
    void setRegisterEnabled(const std::shared_ptr<linphone::Account>& account, bool on);
    void scheduleRetry(AccountRecord& record);
    void retryRegistration();
    void applySpeakerMute(const std::shared_ptr<linphone::Call>& call);
    void pollLevels();
    void sendNextDtmf();
    // Reloads the audio devices once the sound server went away or came back (not under a
    // call's feet: then once the calls are over). False while the devices are those of a server
    // that is no more. `probe`: also make sure a server whose socket is there answers.
    bool followSoundServer(bool probe = false);
    // Codecs and what stands between the network and the speaker (jitter buffer, concealment).
    void configureMedia();
    // Calls play and record on the devices the sound server's user chose as defaults.
    void useServerDefaults();

    // The core's clock.
    void iterate();
    void scheduleIterate();
    // Something is to be sent or has arrived: iterate at once and often for a while.
    void wake();
    void watchSipSockets();

    EngineOptions options_;
    std::shared_ptr<linphone::Core> core_;
    std::shared_ptr<linphone::CoreListener> listener_;
    std::unique_ptr<QTimer> iterateTimer_;
    std::vector<std::unique_ptr<QSocketNotifier>> sipSockets_;
    qint64 lastActivityMs_ = 0;
    bool iterating_ = false;
    int idleTicks_ = 0;
    std::unique_ptr<QTimer> levelTimer_;
    std::unique_ptr<QTimer> dtmfTimer_;
    // Registering again after a failure that was not a refusal of the credentials.
    std::unique_ptr<QTimer> retryTimer_;
    std::weak_ptr<linphone::Account> retryAccount_;

    std::map<std::uint32_t, ComPtr<IRTCEventNotification>> sinks_;
    std::uint32_t nextCookie_ = 1;
    long eventFilter_ = RTCEF_ALL_TO_PROFILE;
    RTC_LISTEN_MODE listenMode_ = RTCLM_NONE;
    long speakerVolume_ = kVolumeMax;
    long micVolume_ = kVolumeMax;

    std::vector<AccountRecord> accounts_;
    // Live calls and their sessions, by liblinphone's call object.
    std::map<const void*, ComPtr<Session>> calls_;
    // The session whose INVITE is being created: its first call state arrives before
    // inviteAddressWithParams returns.
    Session* placing_ = nullptr;
    std::deque<char> dtmfQueue_;
    SoundServer soundServer_;

    std::unique_ptr<NetworkWatch> networkWatch_;
    std::unique_ptr<SleepWatch> sleepWatch_;
    std::unique_ptr<QTimer> probeTimer_;
    bool networkUp_ = true;
    QString localAddress_; // the address the phone reaches the server from
    QString lookedUpHost_; // a server given by name, and its address once looked up
    QString lookedUpAddress_;
    long long soundServerSeen_ = SoundServer::kUnknown;
};

// Starts SRTP's set-up on a thread of its own; the first Engine::initialize waits for it.
void prepareEngine();

} // namespace rtc::lin

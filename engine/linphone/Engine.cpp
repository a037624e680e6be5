#include "engine/linphone/Engine.h"

#include "engine/linphone/TuningWizard.h"

#include <linphone++/linphone.hh>

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <mutex>

Q_LOGGING_CATEGORY(lcEngine, "orvane.engine", QtWarningMsg)

namespace rtc::lin {

namespace {

using linphone::Call;
using linphone::RegistrationState;

constexpr int kIterateMs = 20;
constexpr int kLevelPollMs = 200;
// One RFC 4733 event lasts about 100 ms plus its end packets; the next digit waits that long
// so that quick key presses do not cut each other short.
constexpr int kDtmfSpacingMs = 180;
// liblinphone lists this pseudo card even with no sound hardware and no sound server.
constexpr const char* kAlsaPseudoCard = "ALSA Unknown: default";
// Level events report dB from -120 (silence) to 0 (full scale) shifted to 0..120.
constexpr long kLevelMin = 0;
constexpr long kLevelMax = 120;

std::string toStd(const QString& s) {
    return s.toStdString();
}
QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

// Volume 0..65535 <-> the gain in dB liblinphone's setters take. They turn it into an amplitude
// factor of 10^(dB/10) (measured: -20 "dB" lowers the sound by 40 dB), so 10*log10(v/65535) makes
// the amplitude proportional to the volume: 65535 full, 32768 half.
float volumeToDb(long volume) {
    return 10.0f * std::log10(static_cast<float>(volume) / kVolumeMax);
}
// What a volume does to the sound, in dB (amplitude); -inf for 0.
float amplitudeDb(long volume) {
    return 20.0f * std::log10(static_cast<float>(volume) / kVolumeMax);
}
long dbToVolume(float db) {
    const double v = std::round(kVolumeMax * std::pow(10.0, db / 10.0));
    return static_cast<long>(std::clamp(v, 0.0, static_cast<double>(kVolumeMax)));
}

long levelFromDb(float db) {
    if (!std::isfinite(db))
        return kLevelMin;
    return std::clamp(static_cast<long>(std::lround(db + 120.0f)), kLevelMin, kLevelMax);
}

// liblinphone may log from its media threads: Qt's logging is thread-safe.
class LogSink final : public linphone::LoggingServiceListener {
public:
    void onLogMessageWritten(const std::shared_ptr<linphone::LoggingService>&, const std::string& domain,
                             linphone::LogLevel, const std::string& message) override {
        qCWarning(lcEngine, "%s: %s", domain.c_str(), message.c_str());
    }
};

void installLogSink() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto service = linphone::LoggingService::get();
        // Errors only, unless a developer asks for more (ORVANE_ENGINE_LOG=warning|message|debug).
        const QByteArray wanted = qgetenv("ORVANE_ENGINE_LOG");
        linphone::LogLevel level = linphone::LogLevel::Error;
        if (wanted == "warning")
            level = linphone::LogLevel::Warning;
        else if (wanted == "message")
            level = linphone::LogLevel::Message;
        else if (wanted == "debug")
            level = linphone::LogLevel::Debug;
        service->setLogLevel(level);
        static auto sink = std::make_shared<LogSink>();
        service->addListener(sink);
    });
}

bool isIncomingRinging(Call::State s) {
    return s == Call::State::IncomingReceived || s == Call::State::IncomingEarlyMedia;
}

bool canSendDtmf(Call::State s) {
    return s == Call::State::StreamsRunning || s == Call::State::Connected || s == Call::State::Updating ||
           s == Call::State::UpdatedByRemote;
}

long errorCode(const std::shared_ptr<const linphone::ErrorInfo>& info) {
    return info ? info->getProtocolCode() : 0;
}

bool accountInCore(const std::shared_ptr<linphone::Core>& core,
                   const std::shared_ptr<linphone::Account>& acc) {
    if (!acc)
        return false;
    const auto list = core->getAccountList();
    return std::find(list.begin(), list.end(), acc) != list.end();
}

} // namespace

class CoreEvents final : public linphone::CoreListener {
public:
    explicit CoreEvents(Engine* engine) : engine_(engine) {}
    void detach() { engine_ = nullptr; }

    void onAccountRegistrationStateChanged(const std::shared_ptr<linphone::Core>&,
                                           const std::shared_ptr<linphone::Account>& account,
                                           linphone::RegistrationState state, const std::string&) override {
        if (engine_)
            engine_->onRegistrationStateChanged(account, static_cast<int>(state));
    }
    void onCallStateChanged(const std::shared_ptr<linphone::Core>&,
                            const std::shared_ptr<linphone::Call>& call, linphone::Call::State state,
                            const std::string&) override {
        if (engine_)
            engine_->onCallStateChanged(call, static_cast<int>(state));
    }

private:
    Engine* engine_;
};

Engine::Engine(EngineOptions options) : options_(std::move(options)) {}

Engine::~Engine() {
    shutdown();
}

bool Engine::running() const {
    return core_ != nullptr;
}

HRESULT Engine::initialize() {
    if (core_)
        return E_UNEXPECTED;
    installLogSink();

    QString dir = options_.dataDir;
    if (dir.isEmpty())
        dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
              QStringLiteral("/engine");
    // The core never leaves its start-up state when its folders are missing.
    if (!QDir().mkpath(dir))
        return E_FAIL;
    options_.dataDir = dir;
    const std::string d = toStd(dir);

    auto factory = linphone::Factory::get();
    factory->setConfigDir(d);
    factory->setDataDir(d);
    factory->setDownloadDir(d);

    auto config = factory->createConfigFromString("");
    config->setString("storage", "backend", "sqlite3");
    config->setString("storage", "uri", d + "/engine.db");
    config->setString("storage", "call_logs_db_uri", "null");
    config->setString("storage", "zrtp_secrets_db_uri", "null");
    config->setString("misc", "friends_db_uri", "null");
    config->setString("lime", "x3dh_db_path", d + "/x3dh.sqlite3");
    config->setInt("sip", "guess_hostname", 0);
    // Both keys together, or liblinphone switches IPv6 back on; with IPv6 on and only loopback
    // it decides after a few seconds that the network is down and drops the registration.
    config->setInt("sip", "use_ipv6", 0);
    config->setInt("sip", "ipv6_migration_done", 1);

    core_ = factory->createCoreWithConfig(config, nullptr);
    if (!core_)
        return E_FAIL;
    listener_ = std::make_shared<CoreEvents>(this);
    core_->addListener(listener_);

    core_->setUserAgent("Orvane Softphone", "1.0");
    auto transports = factory->createTransports();
    transports->setUdpPort(options_.sipPort > 0 ? options_.sipPort : -1); // -1: a free random port
    transports->setTcpPort(0);
    transports->setTlsPort(0);
    transports->setDtlsPort(0);
    core_->setTransports(transports);
    core_->enableIpv6(false);
    core_->setStunServer("");
    core_->enableVideoCapture(false);
    core_->enableVideoDisplay(false);
    auto video = factory->createVideoActivationPolicy();
    video->setAutomaticallyInitiate(false);
    video->setAutomaticallyAccept(false);
    core_->setVideoActivationPolicy(video);
    core_->setMediaEncryption(linphone::MediaEncryption::None);
    core_->enableLimeX3Dh(false);
    core_->enablePushNotification(false);
    core_->enableFriendListSubscription(false);
    core_->setAudioPort(-1);
    core_->setUseInfoForDtmf(false);
    core_->setUseRfc2833ForDtmf(true);
    // The program plays its own ringback; incoming calls ring with the program's ring sound.
    core_->setRingback("");
    const QString ring = options_.soundDir + QStringLiteral("/ring.wav");
    core_->setRing(!options_.soundDir.isEmpty() && QFileInfo::exists(ring) ? toStd(ring) : std::string());

    if (core_->start() != 0) {
        core_->removeListener(listener_);
        core_.reset();
        return E_FAIL;
    }

    speakerVolume_ = dbToVolume(core_->getPlaybackGainDb());
    micVolume_ = core_->micEnabled() ? dbToVolume(core_->getMicGainDb()) : 0;

    iterateTimer_ = std::make_unique<QTimer>();
    QObject::connect(iterateTimer_.get(), &QTimer::timeout, [this] {
        if (core_)
            core_->iterate();
    });
    iterateTimer_->start(kIterateMs);
    levelTimer_ = std::make_unique<QTimer>();
    QObject::connect(levelTimer_.get(), &QTimer::timeout, [this] { pollLevels(); });
    levelTimer_->start(kLevelPollMs);
    dtmfTimer_ = std::make_unique<QTimer>();
    dtmfTimer_->setSingleShot(true);
    QObject::connect(dtmfTimer_.get(), &QTimer::timeout, [this] { sendNextDtmf(); });
    return S_OK;
}

void Engine::shutdown() {
    if (!core_)
        return;
    // No event may reach a sink while the core goes down.
    sinks_.clear();
    iterateTimer_.reset();
    levelTimer_.reset();
    dtmfTimer_.reset();
    dtmfQueue_.clear();
    core_->removeListener(listener_);
    std::static_pointer_cast<CoreEvents>(listener_)->detach();
    core_->terminateAllCalls();
    core_->stop();
    // Sessions may outlive the engine in a sink's hands: they must not keep calls of a dead core.
    for (auto& [key, session] : calls_)
        session->call.reset();
    calls_.clear();
    accounts_.clear();
    core_.reset();
    listener_.reset();
}

// ---------------------------------------------------------------- events

HRESULT Engine::advise(IUnknown* sink, std::uint32_t* cookie) {
    if (!sink || !cookie)
        return E_POINTER;
    ComPtr<IRTCEventNotification> notification;
    ComPtr<IUnknown>(sink).as(notification);
    if (!notification)
        return E_NOINTERFACE;
    *cookie = nextCookie_++;
    sinks_.emplace(*cookie, std::move(notification));
    return S_OK;
}

HRESULT Engine::unadvise(std::uint32_t cookie) {
    return sinks_.erase(cookie) ? S_OK : E_INVALIDARG;
}

HRESULT Engine::setEventFilter(long filter) {
    eventFilter_ = filter;
    return S_OK;
}

void Engine::raise(RTC_EVENT type, IUnknown* event) {
    ComPtr<IUnknown> hold(event);
    if (!(eventFilter_ & (1L << type)))
        return;
    // A sink may unadvise itself while handling the event.
    std::vector<ComPtr<IRTCEventNotification>> targets;
    for (auto& [cookie, sink] : sinks_)
        targets.push_back(sink);
    for (auto& sink : targets)
        sink->Event(type, event);
}

void Engine::raiseSessionState(Session& session, RTC_SESSION_STATE state, long statusCode) {
    // One event per state change: liblinphone's Connected/StreamsRunning and End/Released pairs
    // are one change for the program.
    if (session.ended || session.lastState == state)
        return;
    session.lastState = state;
    if (state == RTCSS_DISCONNECTED)
        session.ended = true;
    raise(RTCE_SESSION_STATE_CHANGE, new SessionStateEvent(state, &session, statusCode));
}

void Engine::raiseRegistrationState(AccountRecord& record, RTC_REGISTRATION_STATE state, long statusCode) {
    // Registration refreshes repeat "Ok"; the program only cares about changes.
    if (record.last == state)
        return;
    record.last = state;
    raise(RTCE_REGISTRATION_STATE_CHANGE, new RegistrationEvent(state, statusCode));
}

// ---------------------------------------------------------------- listen mode, volumes

HRESULT Engine::setListenMode(RTC_LISTEN_MODE mode) {
    if (mode != RTCLM_NONE && mode != RTCLM_DYNAMIC && mode != RTCLM_BOTH)
        return E_INVALIDARG;
    listenMode_ = mode;
    return S_OK;
}

HRESULT Engine::getVolume(RTC_AUDIO_DEVICE device, long* volume) {
    if (!volume)
        return E_POINTER;
    if (device == RTCAD_SPEAKER)
        *volume = speakerVolume_;
    else if (device == RTCAD_MICROPHONE)
        *volume = micVolume_;
    else
        return E_INVALIDARG;
    return S_OK;
}

HRESULT Engine::putVolume(RTC_AUDIO_DEVICE device, long volume) {
    if (volume < 0 || volume > kVolumeMax)
        return E_INVALIDARG;
    if (device == RTCAD_SPEAKER) {
        speakerVolume_ = volume;
        if (volume > 0)
            core_->setPlaybackGainDb(volumeToDb(volume));
        for (const auto& call : core_->getCalls())
            applySpeakerMute(call);
    } else if (device == RTCAD_MICROPHONE) {
        micVolume_ = volume;
        if (volume > 0)
            core_->setMicGainDb(volumeToDb(volume));
        core_->enableMic(volume > 0);
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

void Engine::applySpeakerMute(const std::shared_ptr<linphone::Call>& call) {
    const auto s = call->getState();
    if (s == Call::State::StreamsRunning || s == Call::State::Connected || s == Call::State::Paused ||
        s == Call::State::PausedByRemote || s == Call::State::Updating || s == Call::State::UpdatedByRemote)
        call->setSpeakerMuted(speakerVolume_ == 0);
}

void Engine::pollLevels() {
    if (!core_ || sinks_.empty() || !(eventFilter_ & (1L << RTCE_INTENSITY)))
        return;
    auto call = core_->getCurrentCall();
    if (!call || call->getState() != Call::State::StreamsRunning)
        return;
    // liblinphone measures before its gains: add them, so that the levels are those played and
    // sent, as the volume controls set them.
    const long played = levelFromDb(call->getPlayVolume() + amplitudeDb(speakerVolume_));
    const long recorded = levelFromDb(call->getRecordVolume() + amplitudeDb(micVolume_));
    raise(RTCE_INTENSITY, new IntensityEvent(RTCAD_SPEAKER, kLevelMin, kLevelMax, played));
    raise(RTCE_INTENSITY, new IntensityEvent(RTCAD_MICROPHONE, kLevelMin, kLevelMax, recorded));
}

// ---------------------------------------------------------------- provisioning

HRESULT Engine::createProfile(const QString& xml, IRTCProfile** out) {
    if (!out)
        return E_POINTER;
    *out = nullptr;
    auto parsed = parseProvisioningProfile(xml);
    if (!parsed)
        return RTC_E_INVALID_PROFILE;
    // The addresses must make sense to the SIP stack before the profile is accepted.
    auto factory = linphone::Factory::get();
    const QString identity =
        parsed->uri.startsWith(QStringLiteral("sip:")) ? parsed->uri : "sip:" + parsed->uri;
    if (!factory->createAddress(toStd(identity)) ||
        !factory->createAddress(toStd("sip:" + parsed->registrarAddr + ";transport=udp")) ||
        (!parsed->proxyAddr.isEmpty() && !factory->createAddress(toStd("sip:" + parsed->proxyAddr))))
        return RTC_E_INVALID_PROFILE;
    *out = new Profile(std::move(*parsed));
    (*out)->AddRef();
    return S_OK;
}

Engine::AccountRecord* Engine::findRecord(const linphone::Account* account) {
    for (auto& r : accounts_)
        if (r.account.get() == account)
            return &r;
    return nullptr;
}

void Engine::removeFinishedAccounts(const linphone::Account* keep) {
    std::vector<std::shared_ptr<linphone::Account>> done;
    for (auto it = accounts_.begin(); it != accounts_.end();) {
        const bool finished = it->rejected || (it->disabling && it->last == RTCRS_NOT_REGISTERED);
        if (finished && it->account.get() != keep) {
            done.push_back(it->account);
            it = accounts_.erase(it);
        } else {
            ++it;
        }
    }
    // Unrecorded accounts raise no events, whatever their removal does.
    for (auto& acc : done)
        core_->removeAccount(acc);
}

HRESULT Engine::enableProfile(IRTCProfile* p, long flags) {
    auto* profile = dynamic_cast<Profile*>(p);
    if (!profile)
        return p ? E_INVALIDARG : E_POINTER;
    const ProvisioningProfile& d = profile->data();
    auto factory = linphone::Factory::get();
    const QString identityUri = d.uri.startsWith(QStringLiteral("sip:")) ? d.uri : "sip:" + d.uri;
    auto identity = factory->createAddress(toStd(identityUri));
    auto server = factory->createAddress(toStd("sip:" + d.registrarAddr + ";transport=udp"));
    if (!identity || !server)
        return RTC_E_INVALID_PROFILE;
    if (!d.userName.isEmpty())
        identity->setDisplayName(toStd(d.userName));

    auto account = profile->account.lock();
    if (!accountInCore(core_, account))
        account.reset();
    removeFinishedAccounts(account.get());

    auto params = account ? account->getParams()->clone() : core_->createAccountParams();
    params->setIdentityAddress(identity);
    params->setServerAddress(server);
    if (d.proxyAddr.isEmpty() || d.proxyAddr == d.registrarAddr) {
        params->enableOutboundProxy(!d.proxyAddr.isEmpty());
    } else {
        params->enableOutboundProxy(false);
        auto route = factory->createAddress(toStd("sip:" + d.proxyAddr + ";transport=udp;lr"));
        if (!route)
            return RTC_E_INVALID_PROFILE;
        params->setRoutesAddresses({route});
    }
    params->setExpires(d.expires);
    params->enableRegister(flags != 0);
    params->enablePublish(false);
    params->setPushNotificationAllowed(false);
    params->setRemotePushNotificationAllowed(false);
    params->enableQualityReporting(false);

    // A new password for the same user replaces the old one, or liblinphone keeps trying both.
    const std::string user = toStd(d.account);
    const std::string domain = identity->getDomain();
    for (const auto& info : core_->getAuthInfoList())
        if (info->getUsername() == user && (info->getDomain().empty() || info->getDomain() == domain))
            core_->removeAuthInfo(info);
    core_->addAuthInfo(factory->createAuthInfo(user, "", toStd(d.password), "", "", domain));

    if (account) {
        if (AccountRecord* rec = findRecord(account.get())) {
            rec->disabling = false;
            rec->rejected = false;
            rec->last = RTCRS_NOT_REGISTERED;
        } else {
            accounts_.push_back({account});
        }
        if (account->setParams(params) != 0)
            return E_FAIL;
        account->refreshRegister();
    } else {
        account = core_->createAccount(params);
        if (!account)
            return RTC_E_INVALID_PROFILE;
        // Recorded before it is added: adding may already report its first state.
        accounts_.push_back({account});
        if (core_->addAccount(account) != 0) {
            accounts_.pop_back();
            return E_FAIL;
        }
        profile->account = account;
    }
    core_->setDefaultAccount(account);
    return S_OK;
}

HRESULT Engine::disableProfile(IRTCProfile* p) {
    auto* profile = dynamic_cast<Profile*>(p);
    if (!profile)
        return p ? E_INVALIDARG : E_POINTER;
    auto account = profile->account.lock();
    AccountRecord* rec = account ? findRecord(account.get()) : nullptr;
    if (!rec)
        return RTC_E_INVALID_PROFILE;
    rec->disabling = true;
    // liblinphone goes from Ok straight to Cleared when the un-REGISTER is answered; the
    // program shows "logging off" meanwhile.
    if (rec->last == RTCRS_REGISTERED || rec->last == RTCRS_REGISTERING)
        raiseRegistrationState(*rec, RTCRS_UNREGISTERING, 0);
    if (rec->rejected) {
        // Nothing is registered: no REGISTER goes out, the profile is simply logged off.
        rec->rejected = false;
        std::weak_ptr<Engine> weak = weak_from_this();
        QTimer::singleShot(0, iterateTimer_.get(), [weak, acc = account.get()] {
            if (auto engine = weak.lock())
                if (AccountRecord* r = engine->findRecord(acc); r && r->disabling)
                    engine->raiseRegistrationState(*r, RTCRS_NOT_REGISTERED, 0);
        });
    }
    auto params = account->getParams()->clone();
    params->enableRegister(false);
    return account->setParams(params) == 0 ? S_OK : E_FAIL;
}

void Engine::onRegistrationStateChanged(const std::shared_ptr<linphone::Account>& account, int s) {
    AccountRecord* rec = findRecord(account.get());
    qCDebug(lcEngine, "registration %p (%s): state %d, code %d%s", static_cast<const void*>(account.get()),
            account->getParams()->getIdentityAddress()->asString().c_str(), s,
            static_cast<int>(errorCode(account->getErrorInfo())), rec ? "" : " (not ours)");
    if (!rec || rec->rejected)
        return;
    const long code = errorCode(account->getErrorInfo());
    switch (static_cast<RegistrationState>(s)) {
    case RegistrationState::Progress:
        if (rec->disabling)
            raiseRegistrationState(*rec, RTCRS_UNREGISTERING, 0);
        else if (rec->last != RTCRS_REGISTERED) // a refresh of a live registration is no news
            raiseRegistrationState(*rec, RTCRS_REGISTERING, 0);
        break;
    case RegistrationState::Ok:
        if (!rec->disabling)
            raiseRegistrationState(*rec, RTCRS_REGISTERED, code ? code : 200);
        break;
    case RegistrationState::Failed:
        if (rec->disabling) {
            raiseRegistrationState(*rec, RTCRS_NOT_REGISTERED, code);
        } else {
            raiseRegistrationState(*rec, RTCRS_REJECTED, code);
            // The refusal stands until the next login: no retries, no further events.
            rec->rejected = true;
            std::weak_ptr<linphone::Account> weak = account;
            QTimer::singleShot(0, iterateTimer_.get(), [weak] {
                if (auto acc = weak.lock()) {
                    auto params = acc->getParams()->clone();
                    params->enableRegister(false);
                    acc->setParams(params);
                }
            });
        }
        break;
    case RegistrationState::Cleared:
    case RegistrationState::None:
        raiseRegistrationState(*rec, RTCRS_NOT_REGISTERED, code);
        break;
    }
}

// ---------------------------------------------------------------- sessions

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
    return S_OK;
}

HRESULT Engine::answer(Session& session) {
    auto call = session.call;
    if (!call || session.ended || !isIncomingRinging(call->getState()))
        return RTC_E_INVALID_SESSION_STATE;
    // Accepting may report Connected at once: "answering" comes first.
    raiseSessionState(session, RTCSS_ANSWERING, 0);
    auto params = core_->createCallParams(call);
    if (params)
        params->enableVideo(false);
    return call->acceptWithParams(params) == 0 ? S_OK : E_FAIL;
}

HRESULT Engine::terminate(Session& session, RTC_TERMINATE_REASON reason) {
    auto call = session.call;
    if (!call || session.ended)
        return RTC_E_INVALID_SESSION_STATE;
    if (isIncomingRinging(call->getState())) {
        linphone::Reason why = linphone::Reason::Declined; // 603
        if (reason == RTCTR_BUSY)
            why = linphone::Reason::Busy; // 486
        else if (reason == RTCTR_DND)
            why = linphone::Reason::DoNotDisturb;
        return call->decline(why) == 0 ? S_OK : E_FAIL;
    }
    // A BYE once connected, a CANCEL while the far end rings.
    return call->terminate() == 0 ? S_OK : E_FAIL;
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
        if (calls_.empty())
            dtmfQueue_.clear();
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

HRESULT Engine::playSoundFile(const QString& path) {
    if (!QFileInfo(path).isFile())
        return E_INVALIDARG;
    return core_->playLocal(toStd(path)) == 0 ? S_OK : E_FAIL;
}

HRESULT Engine::hasSoundDevice(bool* present) {
    if (!present)
        return E_POINTER;
    // Any real card counts, as any sound hardware gave the original check its mixer: a sound
    // server whose only devices are outputs (null sinks, say) still counts.
    auto scan = [this] {
        for (const auto& device : core_->getExtendedAudioDevices()) {
            if (device->getId() == kAlsaPseudoCard)
                continue;
            if (device->hasCapability(linphone::AudioDevice::Capabilities::CapabilityRecord) ||
                device->hasCapability(linphone::AudioDevice::Capabilities::CapabilityPlay))
                return true;
        }
        return false;
    };
    *present = scan();
    if (!*present) {
        // A card plugged in (or a sound server started) since the core started.
        core_->reloadSoundDevices();
        *present = scan();
    }
    return S_OK;
}

HRESULT Engine::invokeTuningWizard(QWidget* parent) {
    TuningWizard wizard(core_, options_.soundDir, options_.dataDir, parent);
    wizard.exec();
    return S_OK;
}

} // namespace rtc::lin

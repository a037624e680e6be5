#include "engine/linphone/Engine.h"

#include "engine/linphone/EngineSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include <mutex>

Q_LOGGING_CATEGORY(lcEngine, "orvane.engine", QtWarningMsg)

namespace rtc::lin {

namespace {

constexpr int kIterateMs = 20;
constexpr int kLevelPollMs = 200;
// How often the sound server is looked at when nothing else made the engine look.
constexpr int kSoundServerCheckMs = 1000;

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

    soundServerSeen_ = soundServer_.current();
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
    soundServerTimer_ = std::make_unique<QTimer>();
    QObject::connect(soundServerTimer_.get(), &QTimer::timeout, [this] { followSoundServer(); });
    soundServerTimer_->start(kSoundServerCheckMs);
    retryTimer_ = std::make_unique<QTimer>();
    retryTimer_->setSingleShot(true);
    QObject::connect(retryTimer_.get(), &QTimer::timeout, [this] { retryRegistration(); });
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
    soundServerTimer_.reset();
    dtmfTimer_.reset();
    retryTimer_.reset();
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

HRESULT Engine::setListenMode(RTC_LISTEN_MODE mode) {
    if (mode != RTCLM_NONE && mode != RTCLM_DYNAMIC && mode != RTCLM_BOTH)
        return E_INVALIDARG;
    listenMode_ = mode;
    return S_OK;
}

} // namespace rtc::lin

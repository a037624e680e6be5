#include "rtc/linphone/Engine.h"

#include "rtc/linphone/EngineSupport.h"
#include "rtc/linphone/NetworkWatch.h"
#include "rtc/linphone/PulseBuffers.h"
#include "rtc/linphone/PulseGuard.h"
#include "rtc/linphone/SleepWatch.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include <future>
#include <mutex>

#include <linphone/factory.h>
#include <linphone/logging.h>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

Q_LOGGING_CATEGORY(lcEngine, "orvane.engine", QtWarningMsg)

// Exported by mediastreamer (counted: only its first call initialises SRTP) but missing from its
// installed headers.
extern "C" int ms_srtp_init(void);

namespace rtc::lin {

namespace {

// The core's clock: quick while a transaction is likely under way (after anything was sent or
// received), steady during a call, once a second when nothing happens (registration refreshes,
// and the sound server). Messages that arrive wake the core at once whatever the pace.
constexpr int kBusyTickMs = 10;
constexpr int kBusyWindowMs = 1500;
constexpr int kCallTickMs = 50;
constexpr int kIdleTickMs = 1000;
// 4 bytes of UDP payload each (32 bytes on the wire with the IPv4 and UDP headers).
constexpr int kKeepAliveMs = 15000;

// liblinphone and its libraries log from their media threads too (a sound device failing, say).
// The C++ wrapper's log listeners are not safe there: each message looks up and makes wrapper
// objects on whichever thread logs, and that freed memory under a running call. The C callback
// is handed the text alone; Qt's logging is thread-safe.
void LogToQt(LinphoneLoggingService*, const char* domain, LinphoneLogLevel, const char* message) {
    qCWarning(lcEngine, "%s: %s", domain ? domain : "", message ? message : "");
}

void installLogSink() {
    static std::once_flag once;
    std::call_once(once, [] {
        LinphoneLoggingService* service = linphone_logging_service_get();
        // Errors only, unless a developer asks for more (ORVANE_ENGINE_LOG=warning|message|debug).
        const QByteArray wanted = qgetenv("ORVANE_ENGINE_LOG");
        LinphoneLogLevel level = LinphoneLogLevelError;
        if (wanted == "warning")
            level = LinphoneLogLevelWarning;
        else if (wanted == "message")
            level = LinphoneLogLevelMessage;
        else if (wanted == "debug")
            level = LinphoneLogLevelDebug;
        linphone_logging_service_set_log_level(service, level);
        // Setting the callback also ends the library's own output to standard output.
        LinphoneLoggingServiceCbs* callbacks =
            linphone_factory_create_logging_service_cbs(linphone_factory_get());
        linphone_logging_service_cbs_set_log_message_written(callbacks, LogToQt);
        linphone_logging_service_add_callbacks(service, callbacks);
        linphone_logging_service_cbs_unref(callbacks);
    });
}

// SRTP set up ahead of the first core, when the program asked for it.
std::shared_future<void>& srtpReady() {
    static std::shared_future<void> ready;
    return ready;
}

} // namespace

void prepareEngine() {
    static std::once_flag once;
    std::call_once(once, [] {
        installLogSink();
        if (!pulseguard::active())
            qCWarning(lcEngine, "the guard over the PulseAudio driver's streams is not linked in");
        // The reference taken here is kept for the life of the process, so that SRTP is never
        // torn down and set up again between cores.
        srtpReady() = std::async(std::launch::async, [] { ms_srtp_init(); }).share();
    });
}

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

    if (srtpReady().valid())
        srtpReady().wait();
    auto factory = linphone::Factory::get();
    factory->setConfigDir(d);
    factory->setDataDir(d);
    factory->setDownloadDir(d);
    // No mediastreamer plugins: the ones a distribution ships are video displays and codecs this
    // phone never offers, and loading them (one pulls in a whole second toolkit) costs a tenth of
    // a second at start and several megabytes.
    const QString noPlugins = dir + QStringLiteral("/no-plugins");
    QDir().mkpath(noPlugins);
    factory->setMspluginsDir(toStd(noPlugins));

    auto config = factory->createConfigFromString("");
    // No message or conference store: the phone has neither.
    config->setString("storage", "uri", "null");
    config->setString("storage", "call_logs_db_uri", "null");
    config->setString("storage", "zrtp_secrets_db_uri", "null");
    config->setString("misc", "friends_db_uri", "null");
    config->setString("lime", "x3dh_db_path", d + "/x3dh.sqlite3");
    config->setInt("sip", "guess_hostname", 0);
    // Both keys together, or liblinphone switches IPv6 back on; with IPv6 on and only loopback
    // it decides after a few seconds that the network is down and drops the registration.
    config->setInt("sip", "use_ipv6", 0);
    config->setInt("sip", "ipv6_migration_done", 1);
    // The engine follows the network itself (EngineNetwork.cpp) and tells the core.
    config->setInt("sip", "auto_net_state_mon", 0);
    // A home router forgets an idle UDP binding after 30 s (the netfilter default most of them
    // run; carrier-grade NAT and hotspots are no longer): a CRLF keep-alive every 15 s keeps it,
    // even when one is lost. The core's own default of 30 s lets it die just before each one.
    config->setInt("sip", "keepalive_period", kKeepAliveMs);

    // The driver's streams get 40 ms of buffer toward the speaker and the microphone in 10 ms
    // fragments (PulseBuffers.h). With the driver's own 20 ms a call on a machine doing other
    // work underflows, and each underflow adds its gap to the speaker's delay for good: measured
    // in bench/, calls ran away to 500 ms with over a hundred underflows, while 40 ms gave none
    // at the same round trip and cost the sound server less work. Where the program was linked
    // without those definitions, libpulse's own override gives 40 ms both ways (a user's choice
    // of it stands either way).
    if (qEnvironmentVariableIsEmpty("PULSE_LATENCY_MSEC") && !pulsebuffers::active())
        qputenv("PULSE_LATENCY_MSEC", QByteArrayLiteral("40"));
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
    core_->enableKeepAlive(true);
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
    configureMedia();
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

    // Reachable until the engine learns otherwise (it checks once there is a server to reach).
    core_->setNetworkReachable(true);
    soundServerSeen_ = soundServer_.current(true);
    if (soundServerSeen_ > SoundServer::kNone)
        useServerDefaults();
    speakerVolume_ = dbToVolume(core_->getPlaybackGainDb());
    micVolume_ = core_->micEnabled() ? dbToVolume(core_->getMicGainDb()) : 0;

    iterateTimer_ = std::make_unique<QTimer>();
    iterateTimer_->setSingleShot(true);
    QObject::connect(iterateTimer_.get(), &QTimer::timeout, [this] { iterate(); });
    levelTimer_ = std::make_unique<QTimer>();
    QObject::connect(levelTimer_.get(), &QTimer::timeout, [this] { pollLevels(); });
    watchSipSockets();
    startNetworkWatch();
    wake();
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
    stopNetworkWatch();
    iterateTimer_.reset();
    sipSockets_.clear();
    levelTimer_.reset();
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
    const bool noNetwork = statusCode == RTC_E_NO_NETWORK;
    if (record.last == state && record.noNetwork == noNetwork)
        return;
    record.last = state;
    record.noNetwork = noNetwork;
    raise(RTCE_REGISTRATION_STATE_CHANGE, new RegistrationEvent(state, statusCode));
}

// ---------------------------------------------------------------- the core's clock

void Engine::iterate() {
    if (!core_ || iterating_)
        return;
    const QScopedValueRollback<bool> inside(iterating_, true);
    if (calls_.empty()) {
        // Before a message that may start a ringing tone is read. Once a second, also whether the
        // server behind an unchanged socket still answers.
        const bool probe = ++idleTicks_ % 5 == 0 && iterateTimer_->interval() == kIdleTickMs;
        if (!followSoundServer(probe)) {
            // The sound server is on its way out: nothing may ring on it until the devices were
            // reloaded, which takes a moment more.
            iterateTimer_->start(kCallTickMs);
            return;
        }
    }
    core_->iterate();
    scheduleIterate();
}

void Engine::scheduleIterate() {
    if (!core_)
        return;
    int ms = kIdleTickMs;
    if (!calls_.empty())
        ms = kCallTickMs;
    if (QDateTime::currentMSecsSinceEpoch() - lastActivityMs_ < kBusyWindowMs)
        ms = kBusyTickMs;
    iterateTimer_->start(ms);
}

void Engine::wake() {
    lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
    if (!iterateTimer_)
        return;
    // What was asked for goes out now, before the window gets to repaint; from inside a
    // liblinphone notification it waits for the loop.
    if (iterating_)
        iterateTimer_->start(0);
    else
        iterate();
}

void Engine::watchSipSockets() {
    // liblinphone offers no handle on its sockets: find the UDP sockets bound to its SIP port among
    // the process's descriptors, and wake the core when one has something to read.
    const auto transports = core_->getTransportsUsed();
    const int port = transports ? transports->getUdpPort() : 0;
    if (port <= 0)
        return;
    DIR* fds = ::opendir("/proc/self/fd");
    if (!fds)
        return;
    while (const dirent* entry = ::readdir(fds)) {
        bool ok = false;
        const int fd = QByteArray(entry->d_name).toInt(&ok);
        if (!ok || fd == ::dirfd(fds))
            continue;
        int type = 0;
        socklen_t typeLength = sizeof type;
        sockaddr_storage addr = {};
        socklen_t length = sizeof addr;
        if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeLength) != 0 || type != SOCK_DGRAM ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0)
            continue;
        int bound = 0;
        if (addr.ss_family == AF_INET)
            bound = ntohs(reinterpret_cast<const sockaddr_in*>(&addr)->sin_port);
        else if (addr.ss_family == AF_INET6)
            bound = ntohs(reinterpret_cast<const sockaddr_in6*>(&addr)->sin6_port);
        if (bound != port)
            continue;
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] {
            lastActivityMs_ = QDateTime::currentMSecsSinceEpoch();
            iterate();
        });
        sipSockets_.push_back(std::move(notifier));
    }
    ::closedir(fds);
    if (sipSockets_.empty())
        qCWarning(lcEngine, "no SIP socket found on port %d: the core runs on its clock alone", port);
}

HRESULT Engine::setListenMode(RTC_LISTEN_MODE mode) {
    if (mode != RTCLM_NONE && mode != RTCLM_DYNAMIC && mode != RTCLM_BOTH)
        return E_INVALIDARG;
    listenMode_ = mode;
    return S_OK;
}

} // namespace rtc::lin

// Staying reachable behind a home router, through network changes and sleep.
//
// - The router's binding is kept by the core's keep-alives (Engine.cpp sets their period).
// - A registration refresh now and then, answered by the server, shows the address and port the
//   server sees (the received and rport of its Via): when they changed under the phone's feet
//   (a router that restarted or forgot the binding), that refresh has registered them with a
//   registrar that follows the source address, and one more right after puts them in the contact
//   (the core's NAT helper) for any registrar.
// - A change of the network (NetworkWatch) restarts the core's transports from the new address,
//   which registers again; no route to the server shows as "no network" until one comes back.
// - After sleep (SleepWatch) the registration is refreshed at once.
#include "rtc/linphone/Engine.h"

#include "rtc/linphone/EngineSupport.h"
#include "rtc/linphone/NetworkWatch.h"
#include "rtc/linphone/SleepWatch.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

Q_LOGGING_CATEGORY(lcEngineNetwork, "orvane.network", QtWarningMsg)

namespace rtc::lin {

namespace {

// How often an idle registration is refreshed to see whether the server still sees the phone
// where it registered: a binding lost in spite of the keep-alives (a router that restarted, or
// one that forgets within 15 s) costs at most this long of unreachability instead of the
// registration's 10 minutes. About 1 KB each (REGISTER and its 200).
constexpr int kProbeMs = 120000;

// When the server is known by name and its address was not looked up yet: whether anything
// routes to the internet at all (a documentation address; nothing is sent to it).
const QString kSomewhere = QStringLiteral("203.0.113.1");

using linphone::RegistrationState;

// received:rport of the top Via of the server's last answer to a REGISTER, when it says them.
QString ViaSource(const std::shared_ptr<linphone::Account>& account) {
    const QString via = fromStd(account->getCustomHeader("Via"));
    static const QRegularExpression received(QStringLiteral(";\\s*received=([^;,\\s]+)"));
    static const QRegularExpression rport(QStringLiteral(";\\s*rport=(\\d+)"));
    const auto r = received.match(via);
    const auto p = rport.match(via);
    if (!r.hasMatch() || !p.hasMatch())
        return {};
    return r.captured(1) + QLatin1Char(':') + p.captured(1);
}

} // namespace

void Engine::startNetworkWatch() {
    networkWatch_ = std::make_unique<NetworkWatch>([this] { checkNetwork(); });
    sleepWatch_ = std::make_unique<SleepWatch>([this](qint64 asleepMs) { onWoke(asleepMs); });
    probeTimer_ = std::make_unique<QTimer>();
    probeTimer_->setInterval(kProbeMs);
    QObject::connect(probeTimer_.get(), &QTimer::timeout, [this] { probeRegistrations(); });
    probeTimer_->start();
}

void Engine::stopNetworkWatch() {
    networkWatch_.reset();
    sleepWatch_.reset();
    probeTimer_.reset();
}

QString Engine::networkTarget() {
    const auto account = core_->getDefaultAccount();
    const auto server = account ? account->getParams()->getServerAddress() : nullptr;
    const QString host = server ? fromStd(server->getDomain()) : QString();
    if (host.isEmpty())
        return kSomewhere;
    if (!QHostAddress(host).isNull())
        return host;
    if (host == lookedUpHost_)
        return lookedUpAddress_.isEmpty() ? kSomewhere : lookedUpAddress_;
    // Looked up on the side; the answer checks the network again.
    lookedUpHost_ = host;
    lookedUpAddress_.clear();
    QHostInfo::lookupHost(host, iterateTimer_.get(), [this, host](const QHostInfo& info) {
        if (host != lookedUpHost_)
            return;
        if (info.addresses().isEmpty()) {
            lookedUpHost_.clear(); // asked again at the next change
            return;
        }
        lookedUpAddress_ = info.addresses().first().toString();
        checkNetwork();
    });
    return kSomewhere;
}

void Engine::checkNetwork() {
    if (!core_ || accounts_.empty())
        return;
    const QString target = networkTarget();
    const QString local = LocalAddressTowards(target);
    if (local.isEmpty()) {
        if (!networkUp_)
            return;
        networkUp_ = false;
        localAddress_.clear();
        qCInfo(lcEngineNetwork,
               "no network: nothing routes to the server (%s); registering again once something does",
               qUtf8Printable(target));
        for (AccountRecord& r : accounts_)
            if (!r.superseded && !r.disabling && !r.rejected)
                raiseRegistrationState(r, RTCRS_REGISTERING, RTC_E_NO_NETWORK);
        restartTransports(false);
        return;
    }
    if (!networkUp_) {
        networkUp_ = true;
        localAddress_ = local;
        qCInfo(lcEngineNetwork, "network back: the server (%s) is reached from %s; registering again",
               qUtf8Printable(target), qUtf8Printable(local));
        restartTransports(true);
        registerLiveAccountsAgain();
        return;
    }
    if (localAddress_.isEmpty()) {
        localAddress_ = local;
        qCInfo(lcEngineNetwork, "the server (%s) is reached from %s", qUtf8Printable(target),
               qUtf8Printable(local));
        return;
    }
    if (local != localAddress_) {
        qCInfo(lcEngineNetwork,
               "the address towards the server changed from %s to %s: registering again from it",
               qUtf8Printable(localAddress_), qUtf8Printable(local));
        localAddress_ = local;
        restartTransports(false);
        restartTransports(true);
        registerLiveAccountsAgain();
    }
}

void Engine::restartTransports(bool up) {
    // The core closes its sockets when the network goes and opens new ones when it comes back:
    // the notifiers of the old ones must go first.
    sipSockets_.clear();
    core_->setNetworkReachable(up);
    if (up)
        watchSipSockets();
    wake();
}

void Engine::registerLiveAccountsAgain() {
    // A registration waiting to be tried again after a failure need not wait any longer.
    if (retryTimer_ && retryTimer_->isActive()) {
        retryTimer_->stop();
        retryRegistration();
    }
}

void Engine::onWoke(qint64 asleepMs) {
    if (!core_)
        return;
    qCInfo(lcEngineNetwork, "woke after %.0f s asleep: registering again", asleepMs / 1000.0);
    const QString before = localAddress_;
    const bool wasUp = networkUp_;
    checkNetwork();
    if (!networkUp_ || !wasUp || localAddress_ != before)
        return; // no network, or the transports were restarted, which registers
    for (AccountRecord& r : accounts_)
        if (!r.superseded && !r.disabling && !r.rejected && r.last == RTCRS_REGISTERED)
            r.account->refreshRegister();
    registerLiveAccountsAgain();
    wake();
}

void Engine::probeRegistrations() {
    if (!core_ || !networkUp_ || !calls_.empty())
        return;
    bool any = false;
    for (AccountRecord& r : accounts_)
        if (!r.superseded && !r.disabling && !r.rejected && r.last == RTCRS_REGISTERED) {
            r.account->refreshRegister();
            any = true;
        }
    if (any)
        wake();
}

void Engine::notePublicAddress(AccountRecord& record) {
    const QString seen = ViaSource(record.account);
    if (seen.isEmpty() || seen == record.publicAddress)
        return;
    if (record.publicAddress.isEmpty()) {
        qCInfo(lcEngineNetwork, "the server sees the phone at %s", qUtf8Printable(seen));
    } else {
        // The router gave the phone a new binding. The REGISTER that showed it has told a
        // registrar that follows the source address already; once more, from the loop, so that
        // the contact names the new address too.
        qCInfo(lcEngineNetwork,
               "the server now sees the phone at %s, no longer at %s: registering again from there",
               qUtf8Printable(seen), qUtf8Printable(record.publicAddress));
        QTimer::singleShot(
            0, iterateTimer_.get(), [this, weak = std::weak_ptr<linphone::Account>(record.account)] {
                auto account = weak.lock();
                const AccountRecord* r = account ? findRecord(account.get()) : nullptr;
                if (r && !r->disabling && !r->superseded && !r->rejected && accountInCore(core_, account)) {
                    account->refreshRegister();
                    wake();
                }
            });
    }
    record.publicAddress = seen;
}

} // namespace rtc::lin

#include "rtc/linphone/NetworkWatch.h"

#include <QHostAddress>
#include <QLoggingCategory>
#include <QNetworkInformation>
#include <QSocketNotifier>

#include <cstring>

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

Q_LOGGING_CATEGORY(lcNetworkWatch, "orvane.network", QtWarningMsg)

namespace rtc::lin {

namespace {

// Long enough to take a DHCP client's address, route and link events as one change, short
// against the 10 s in which a phone should be registered again.
constexpr int kSettleMs = 300;

} // namespace

NetworkWatch::NetworkWatch(std::function<void()> changed) : changed_(std::move(changed)) {
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    QObject::connect(&settle_, &QTimer::timeout, [this] { changed_(); });

    fd_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd_ >= 0) {
        sockaddr_nl local = {};
        local.nl_family = AF_NETLINK;
        local.nl_groups =
            RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_IFADDR | RTMGRP_IPV6_ROUTE;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    if (fd_ >= 0) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readNetlink(); });
    } else {
        qCWarning(lcNetworkWatch, "no netlink socket: address and route changes go unnoticed");
    }

    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        qtBackend_ = true;
        QObject::connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, &settle_,
                         [this] { settle_.start(); });
        qCInfo(lcNetworkWatch, "network changes from the kernel and from Qt's \"%s\" backend",
               qUtf8Printable(QNetworkInformation::instance()->backendName()));
    } else {
        qCInfo(lcNetworkWatch, "network changes from the kernel (netlink)");
    }
}

NetworkWatch::~NetworkWatch() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

bool NetworkWatch::watching() const {
    return fd_ >= 0 || qtBackend_;
}

void NetworkWatch::readNetlink() {
    // The messages themselves are not needed: any of them means "look again".
    alignas(nlmsghdr) char buffer[8192];
    bool any = false;
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        const auto size = static_cast<std::size_t>(n);
        for (std::size_t at = 0; at + sizeof(nlmsghdr) <= size;) {
            const auto* h = reinterpret_cast<const nlmsghdr*>(buffer + at);
            if (h->nlmsg_len < sizeof(nlmsghdr) || h->nlmsg_len > size - at)
                break;
            any |= h->nlmsg_type >= RTM_NEWLINK && h->nlmsg_type <= RTM_DELROUTE;
            at += NLMSG_ALIGN(h->nlmsg_len);
        }
    }
    if (any)
        settle_.start();
}

QString LocalAddressTowards(const QString& host) {
    const QHostAddress target(host);
    if (target.isNull())
        return {};
    const bool v6 = target.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    sockaddr_storage addr = {};
    socklen_t length = 0;
    if (v6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(9);
        const Q_IPV6ADDR bytes = target.toIPv6Address();
        std::memcpy(&a->sin6_addr, bytes.c, sizeof bytes.c);
        length = sizeof *a;
    } else {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        a->sin_family = AF_INET;
        a->sin_port = htons(9);
        a->sin_addr.s_addr = htonl(target.toIPv4Address());
        length = sizeof *a;
    }
    QString local;
    sockaddr_storage mine = {};
    socklen_t mineLength = sizeof mine;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&mine), &mineLength) == 0)
        local = QHostAddress(reinterpret_cast<sockaddr*>(&mine)).toString();
    ::close(fd);
    return local;
}

} // namespace rtc::lin

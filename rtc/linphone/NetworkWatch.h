// Tells the engine when the machine's network may have changed: an address came or went, a
// route changed, a link went up or down. The kernel's netlink route and address events are the
// source that every Linux desktop has (and the only one without NetworkManager); Qt's
// QNetworkInformation adds its reachability changes where one of its backends loads. Neither
// says what changed for the phone: the engine asks LocalAddressTowards() once things settle.
#pragma once

#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace rtc::lin {

class NetworkWatch {
public:
    // `changed` runs on the UI thread once a burst of changes has settled.
    explicit NetworkWatch(std::function<void()> changed);
    ~NetworkWatch();
    NetworkWatch(const NetworkWatch&) = delete;
    NetworkWatch& operator=(const NetworkWatch&) = delete;

    // False when neither source could be opened: changes then go unnoticed.
    bool watching() const;

private:
    void readNetlink();

    std::function<void()> changed_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer settle_;
    bool qtBackend_ = false;
};

// The local address the kernel would send from to reach `host` (an IPv4 or IPv6 literal), or an
// empty string when no route reaches it. A connected UDP socket asks the routing table; nothing
// is sent.
QString LocalAddressTowards(const QString& host);

} // namespace rtc::lin

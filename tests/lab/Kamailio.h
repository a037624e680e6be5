// kamailio as the tests' registrar and proxy on 127.0.0.1: digest authentication for a few
// subscribers, and every other number routed to a SIPp answering peer on a given port.
#pragma once

#include "lab/LabProcess.h"

#include <QString>

#include <vector>

namespace lab {

struct SipAccount {
    QString user;
    QString password;
};

class Kamailio {
public:
    // The subscribers: alice/alice-secret and bob/bob-secret unless told otherwise.
    static std::vector<SipAccount> defaultAccounts();

    Kamailio() = default;
    ~Kamailio() { stop(); }
    Kamailio(const Kamailio&) = delete;
    Kamailio& operator=(const Kamailio&) = delete;

    // Writes a configuration from tests/lab/kamailio.cfg.in, starts kamailio on `port` (0: a free
    // one) and waits until it answers an OPTIONS request. `uasPort`: where non-subscriber numbers
    // go.
    bool start(int uasPort, const std::vector<SipAccount>& accounts = defaultAccounts(), int port = 0);
    void stop();
    bool running() const { return process_.running(); }

    int port() const { return port_; }
    // "127.0.0.1:<port>", the server address as a user types it.
    QString address() const;
    QString output() const { return process_.output(); }

private:
    bool answersOptions(int timeoutMs) const;

    Process process_{QStringLiteral("kamailio")};
    int port_ = 0;
};

} // namespace lab

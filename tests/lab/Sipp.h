// SIPp as the far end of the tests' calls, running the scenarios of tests/lab/sipp/:
//   uas_answer.xml  answers (offering telephone-event) and waits for the caller's BYE;
//   uas_ring.xml    rings until the caller cancels;
//   uac_answer.xml  calls a user through the proxy, is answered, hangs up after -d ms;
//   uac_decline.xml calls and expects 486 Busy Here;
//   uac_rejected.xml calls and expects 603 Decline;
//   uac_cancel.xml  calls and cancels 1.5 s after 180 Ringing;
//   registrar_refuse.xml answers a registration with the status given as variable "code".
// One call per run unless told otherwise; the exit code is 0 when the scenario went through.
#pragma once

#include "lab/LabProcess.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace lab {

struct SippOptions {
    QString scenario;                           // file name in tests/lab/sipp/
    int localPort = 0;                          // SIP port of SIPp; 0 picks a free one
    QString remote;                             // "host:port" to call (UAC scenarios)
    QString service;                            // the user part called (UAC scenarios)
    QString caller = QStringLiteral("5551000"); // the caller's user part (UAC scenarios)
    int mediaPort = 0;                          // SIPp's own RTP port; 0 picks a free one
    bool rtpEcho = false;                       // echo the received RTP back to its sender
    // The media port the answering scenarios put into their SDP; 0: SIPp's own media port.
    int advertisedMediaPort = 0;
    int callLengthMs = 1000;          // -d: the pause of the UAC scenarios before they hang up
    int timeoutSec = 30;              // SIPp gives up (and fails) after this
    int calls = 1;                    // -m: the calls SIPp takes or makes before it ends
    QMap<QString, QString> variables; // other "-set name value" the scenario uses

    // A registrar on `port` that answers one REGISTER with `code`, then ends.
    static SippOptions refusingRegistrar(int port, int code);
};

class Sipp {
public:
    Sipp() = default;
    ~Sipp() { stop(); }
    Sipp(const Sipp&) = delete;
    Sipp& operator=(const Sipp&) = delete;

    bool start(const SippOptions& options);
    // For an answering scenario: true once SIPp listens (it prints its statistics screen).
    bool waitUntilReady(int timeoutMs = 5000) const;
    // Waits for SIPp to end; its exit code (0: the scenario succeeded), -1 when it did not end.
    int waitForExit(int timeoutMs) { return process_.waitForExit(timeoutMs); }
    void stop() { process_.stop(); }
    bool running() const { return process_.running(); }

    int localPort() const { return localPort_; }
    int mediaPort() const { return mediaPort_; }
    QString output() const { return process_.output(); }
    // SIPp's error trace (unexpected messages and the like), for failure messages.
    QString errors() const;
    // Every SIP message SIPp sent and received so far.
    QString messages() const;

private:
    Process process_{QStringLiteral("sipp")};
    int localPort_ = 0;
    int mediaPort_ = 0;
    QString traceDir_;
};

} // namespace lab

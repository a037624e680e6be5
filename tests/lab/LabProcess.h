// Starting and stopping the real counterparts of the integration tests (kamailio, SIPp,
// PulseAudio, the HTTPS billing server): loopback only, free ports, stopped by PID, output kept
// in a file of the run's folder.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace lab {

// A folder of this test run (removed at exit unless ORVANE_KEEP_LAB is set).
QString runDir();
// A free port on 127.0.0.1 for UDP or TCP (and free for the other protocol too).
int freePort();
bool waitForTcpPort(int port, int timeoutMs);
// Whether some socket of this network namespace is bound to UDP `port`, read from the kernel's
// table without touching the port.
bool udpPortBound(int port);
// Runs `program` to its end (bounded) and returns its exit code, -1 on failure to start.
int runToEnd(const QString& program, const QStringList& args, int timeoutMs = 10000,
             QString* output = nullptr);
// Spins the Qt event loop (engine iteration, posted events) until `pred` holds or time runs out.
bool waitUntil(const std::function<bool()>& pred, int timeoutMs);

class Process {
public:
    explicit Process(QString name) : name_(std::move(name)) {}
    ~Process() { stop(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool start(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());
    // SIGTERM, then SIGKILL after `graceMs`.
    void stop(int graceMs = 2000);
    bool running() const;
    // Waits (spinning the event loop) for the process to end; returns its exit code or -1.
    int waitForExit(int timeoutMs);
    qint64 pid() const;
    // Everything the process wrote to stdout and stderr so far.
    QString output() const;
    bool waitForOutput(const QString& needle, int timeoutMs) const;
    QString logPath() const { return logPath_; }

private:
    QString name_;
    QString logPath_;
    std::unique_ptr<QProcess> proc_;
};

} // namespace lab

#include "lab/LabProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <csignal>

#include <sys/prctl.h>
#include <unistd.h>

namespace lab {

QString runDir() {
    // Removed when the test program ends, unless ORVANE_KEEP_LAB asks to keep it for a look.
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/orvane-lab-XXXXXX"));
    static const bool keep = [] {
        dir.setAutoRemove(qEnvironmentVariableIsEmpty("ORVANE_KEEP_LAB"));
        return true;
    }();
    Q_UNUSED(keep);
    return dir.path();
}

int freePort() {
    // Bind port 0 for TCP, then check the same number is free for UDP as well.
    for (int attempt = 0; attempt < 50; ++attempt) {
        QTcpServer tcp;
        if (!tcp.listen(QHostAddress::LocalHost, 0))
            continue;
        const quint16 port = tcp.serverPort();
        QUdpSocket udp;
        if (udp.bind(QHostAddress::LocalHost, port))
            return port;
    }
    return 0;
}

bool waitForTcpPort(int port, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        if (s.waitForConnected(200))
            return true;
        QThread::msleep(50);
    }
    return false;
}

bool udpPortBound(int port) {
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile f(QString::fromLatin1(table));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        // "  sl  local_address rem_address ...": the local address ends in ":PORT" in hex.
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 2)
                continue;
            const qsizetype colon = fields.at(1).lastIndexOf(':');
            bool ok = false;
            if (colon >= 0 && fields.at(1).mid(colon + 1).toInt(&ok, 16) == port && ok)
                return true;
        }
    }
    return false;
}

int runToEnd(const QString& program, const QStringList& args, int timeoutMs, QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(5000))
        return -1;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        return -1;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

bool Process::start(const QString& program, const QStringList& args, const QProcessEnvironment& env) {
    stop();
    static int serial = 0;
    logPath_ = QStringLiteral("%1/%2-%3.log").arg(runDir(), name_).arg(++serial);
    proc_ = std::make_unique<QProcess>();
    proc_->setProcessEnvironment(env);
    proc_->setWorkingDirectory(runDir());
    proc_->setStandardOutputFile(logPath_);
    proc_->setStandardErrorFile(logPath_, QIODevice::Append);
    proc_->setStandardInputFile(QProcess::nullDevice());
    // A test program that is killed (time-out, crash) takes its peers with it: no kamailio or
    // sound server outlives the run holding ports and sockets.
    // A group of its own: what it forks (kamailio's workers) goes with it at stop().
    proc_->setChildProcessModifier([] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::setpgid(0, 0);
    });
    proc_->start(program, args);
    if (!proc_->waitForStarted(5000)) {
        proc_.reset();
        return false;
    }
    return true;
}

void Process::stop(int graceMs) {
    if (!proc_)
        return;
    const qint64 group = proc_->processId();
    if (proc_->state() != QProcess::NotRunning) {
        proc_->terminate();
        if (!proc_->waitForFinished(graceMs)) {
            proc_->kill();
            proc_->waitForFinished(2000);
        }
    }
    // Whatever of the group is left, a worker blocking SIGTERM say, must not outlive its test.
    if (group > 0)
        ::kill(pid_t(-group), SIGKILL);
    proc_.reset();
}

bool Process::running() const {
    return proc_ && proc_->state() != QProcess::NotRunning;
}

int Process::waitForExit(int timeoutMs) {
    if (!proc_)
        return -1;
    if (!waitUntil([this] { return proc_->state() == QProcess::NotRunning; }, timeoutMs))
        return -1;
    return proc_->exitStatus() == QProcess::NormalExit ? proc_->exitCode() : -1;
}

qint64 Process::pid() const {
    return proc_ ? proc_->processId() : 0;
}

QString Process::output() const {
    QFile f(logPath_);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(f.readAll());
}

bool Process::waitForOutput(const QString& needle, int timeoutMs) const {
    return waitUntil([&] { return output().contains(needle); }, timeoutMs);
}

} // namespace lab

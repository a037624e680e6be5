#include "lab/Sipp.h"

#include <QFile>
#include <QUdpSocket>

namespace lab {

namespace {

bool udpPortTaken(int port) {
    QUdpSocket probe;
    return !probe.bind(QHostAddress::LocalHost, static_cast<quint16>(port),
                       QAbstractSocket::DontShareAddress);
}

// SIPp binds its media port and the three above it (RTCP, video RTP and RTCP): all four must be
// free and clear of SIPp's own SIP port.
int freeMediaPort(int sipPort) {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int base = freePort();
        if (base == 0 || base > 65532)
            continue;
        bool clear = true;
        for (int p = base; p < base + 4 && clear; ++p)
            clear = p != sipPort && (p == base || !udpPortTaken(p));
        if (clear)
            return base;
    }
    return 0;
}

} // namespace

bool Sipp::start(const SippOptions& o) {
    stop();
    localPort_ = o.localPort > 0 ? o.localPort : freePort();
    mediaPort_ = o.mediaPort > 0 ? o.mediaPort : freeMediaPort(localPort_);
    if (localPort_ == 0 || mediaPort_ == 0)
        return false;
    static int serial = 0;
    traceDir_ = runDir() + QStringLiteral("/sipp-%1-%2").arg(++serial).arg(o.scenario);

    QString path = QStringLiteral(ORVANE_LAB_DIR "/sipp/") + o.scenario;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // SIPp refuses a variable that is set but not used, and one used but not set.
    QByteArray text = file.readAll();
    // "@name@" stands where SIPp reads no variable (a response's status code): the scenario is
    // written out with the value in its place.
    bool substituted = false;
    for (auto it = o.variables.cbegin(); it != o.variables.cend(); ++it) {
        const QByteArray placeholder = '@' + it.key().toUtf8() + '@';
        if (text.contains(placeholder)) {
            text.replace(placeholder, it.value().toUtf8());
            substituted = true;
        }
    }
    if (substituted) {
        path = traceDir_ + QStringLiteral("-scenario.xml");
        QFile copy(path);
        if (!copy.open(QIODevice::WriteOnly) || copy.write(text) != text.size())
            return false;
    }

    QStringList args{QStringLiteral("-sf"),
                     path,
                     QStringLiteral("-i"),
                     QStringLiteral("127.0.0.1"),
                     QStringLiteral("-p"),
                     QString::number(localPort_),
                     QStringLiteral("-mi"),
                     QStringLiteral("127.0.0.1"),
                     QStringLiteral("-mp"),
                     QString::number(mediaPort_),
                     QStringLiteral("-d"),
                     QString::number(o.callLengthMs),
                     QStringLiteral("-m"),
                     QString::number(o.calls),
                     QStringLiteral("-nostdin"),
                     QStringLiteral("-timeout"),
                     QStringLiteral("%1s").arg(o.timeoutSec),
                     QStringLiteral("-timeout_error"),
                     QStringLiteral("-trace_err"),
                     QStringLiteral("-error_file"),
                     traceDir_ + QStringLiteral("-errors.log"),
                     QStringLiteral("-trace_msg"),
                     QStringLiteral("-message_file"),
                     traceDir_ + QStringLiteral("-messages.log")};
    if (text.contains("[$mport]"))
        args << QStringLiteral("-set") << QStringLiteral("mport")
             << QString::number(o.advertisedMediaPort > 0 ? o.advertisedMediaPort : mediaPort_);
    if (text.contains("[$caller]"))
        args << QStringLiteral("-set") << QStringLiteral("caller") << o.caller;
    for (auto it = o.variables.cbegin(); it != o.variables.cend(); ++it)
        if (text.contains("[$" + it.key().toUtf8() + ']'))
            args << QStringLiteral("-set") << it.key() << it.value();
    if (o.rtpEcho)
        args << QStringLiteral("-rtp_echo");
    if (!o.service.isEmpty())
        args << QStringLiteral("-s") << o.service;
    if (!o.remote.isEmpty())
        args << o.remote;
    return process_.start(QStringLiteral("sipp"), args);
}

bool Sipp::waitUntilReady(int timeoutMs) const {
    // Looked up, never probed by binding: a probe holding the port for a moment makes SIPp's own
    // bind fail when the two meet.
    return waitUntil([this] { return !running() || udpPortBound(localPort_); }, timeoutMs) && running();
}

QString Sipp::messages() const {
    QFile f(traceDir_ + QStringLiteral("-messages.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

QString Sipp::errors() const {
    QString text;
    for (const QString& suffix : {QStringLiteral("-errors.log"), QStringLiteral("-messages.log")}) {
        QFile f(traceDir_ + suffix);
        if (f.open(QIODevice::ReadOnly))
            text += QStringLiteral("==== %1%2\n").arg(traceDir_, suffix) + QString::fromUtf8(f.readAll());
    }
    return text + QStringLiteral("==== output\n") + output();
}

SippOptions SippOptions::refusingRegistrar(int port, int code) {
    SippOptions o;
    o.scenario = QStringLiteral("registrar_refuse.xml");
    o.localPort = port;
    o.timeoutSec = 20;
    o.variables[QStringLiteral("code")] = QString::number(code);
    return o;
}

} // namespace lab

#include "lab/Kamailio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QUuid>

namespace lab {

namespace {

QString moduleDir() {
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/kamailio/modules", "/usr/lib/kamailio/modules",
                            "/usr/lib64/kamailio/modules", "/usr/local/lib/kamailio/modules"}) {
        if (QFileInfo::exists(QString::fromLatin1(dir) + QStringLiteral("/tm.so")))
            return QString::fromLatin1(dir) + QLatin1Char('/');
    }
    return {};
}

// A kamailio configuration string literal.
QString cfgString(const QString& s) {
    QString out = s;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    out.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

} // namespace

std::vector<SipAccount> Kamailio::defaultAccounts() {
    return {{QStringLiteral("alice"), QStringLiteral("alice-secret")},
            {QStringLiteral("bob"), QStringLiteral("bob-secret")}};
}

QString Kamailio::address() const {
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

bool Kamailio::start(int uasPort, const std::vector<SipAccount>& accounts, int port) {
    stop();
    const QString modules = moduleDir();
    if (modules.isEmpty())
        return false;
    QFile tmpl(QStringLiteral(ORVANE_LAB_DIR "/kamailio.cfg.in"));
    if (!tmpl.open(QIODevice::ReadOnly))
        return false;
    QString cfg = QString::fromUtf8(tmpl.readAll());

    QString accountLines;
    for (const auto& a : accounts)
        accountLines += QStringLiteral("\t$sht(subs=>%1) = %2;\n").arg(a.user, cfgString(a.password));

    port_ = port > 0 ? port : freePort();
    if (port_ == 0)
        return false;
    cfg.replace(QStringLiteral("@PORT@"), QString::number(port_));
    cfg.replace(QStringLiteral("@UAS_PORT@"), QString::number(uasPort));
    cfg.replace(QStringLiteral("@MPATH@"), modules);
    cfg.replace(QStringLiteral("@ACCOUNTS@"), accountLines);

    const QString dir = runDir() + QStringLiteral("/kamailio-%1").arg(port_);
    QDir().mkpath(dir);
    const QString cfgPath = dir + QStringLiteral("/kamailio.cfg");
    QFile out(cfgPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    out.write(cfg.toUtf8());
    out.close();

    if (!process_.start(QStringLiteral("kamailio"),
                        {QStringLiteral("-f"), cfgPath, QStringLiteral("-DD"), QStringLiteral("-E"),
                         QStringLiteral("-Y"), dir, QStringLiteral("-m"), QStringLiteral("32"),
                         QStringLiteral("-M"), QStringLiteral("8")}))
        return false;
    if (!answersOptions(10000)) {
        stop();
        return false;
    }
    return true;
}

void Kamailio::stop() {
    process_.stop(5000);
}

bool Kamailio::answersOptions(int timeoutMs) const {
    QUdpSocket socket;
    if (!socket.bind(QHostAddress::LocalHost, 0))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (!process_.running())
            return false;
        const QString callId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString request = QStringLiteral("OPTIONS sip:127.0.0.1:%1 SIP/2.0\r\n"
                                               "Via: SIP/2.0/UDP 127.0.0.1:%2;branch=z9hG4bK%3\r\n"
                                               "Max-Forwards: 70\r\n"
                                               "From: <sip:probe@127.0.0.1:%2>;tag=probe\r\n"
                                               "To: <sip:127.0.0.1:%1>\r\n"
                                               "Call-ID: %3\r\n"
                                               "CSeq: 1 OPTIONS\r\n"
                                               "Content-Length: 0\r\n\r\n")
                                    .arg(port_)
                                    .arg(socket.localPort())
                                    .arg(callId.left(8));
        socket.writeDatagram(request.toUtf8(), QHostAddress::LocalHost, static_cast<quint16>(port_));
        if (socket.waitForReadyRead(200)) {
            while (socket.hasPendingDatagrams()) {
                const QByteArray reply = socket.receiveDatagram().data();
                if (reply.startsWith("SIP/2.0 200"))
                    return true;
            }
        }
    }
    return false;
}

} // namespace lab

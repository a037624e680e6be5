#include "lab/HttpsServer.h"

#include "platform/HttpsClient.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace lab {

namespace {

QString LabScript(const char* name) {
    return QStringLiteral(ORVANE_LAB_DIR "/") + QLatin1String(name);
}

QStringList Strings(const QJsonValue& v) {
    QStringList out;
    for (const QJsonValue& e : v.toArray())
        out.append(e.toString());
    return out;
}

} // namespace

bool makeTestCa(const QString& dir, QString* output) {
    return runToEnd(QStringLiteral("sh"), {LabScript("make_test_ca.sh"), dir}, 30000, output) == 0;
}

HttpsServer::HttpsServer(QString caName)
    : caDir_(runDir() + u'/' + caName), process_(QStringLiteral("billing-stub")) {}

QString HttpsServer::caFile() const {
    return caDir_ + QStringLiteral("/ca.pem");
}

bool HttpsServer::start(const QString& credit, const QString& currency) {
    stop();
    QString out;
    if (!makeTestCa(caDir_, &out)) {
        error_ = QStringLiteral("make_test_ca.sh failed: ") + out;
        return false;
    }
    port_ = freePort();
    if (port_ == 0) {
        error_ = QStringLiteral("no free port");
        return false;
    }
    static int serial = 0;
    recordFile_ = QStringLiteral("%1/last-query-%2.json").arg(runDir()).arg(++serial);
    QStringList args = {LabScript("billing_stub.py"),
                        QStringLiteral("--port"),
                        QString::number(port_),
                        QStringLiteral("--cert"),
                        caDir_ + QStringLiteral("/server.pem"),
                        QStringLiteral("--key"),
                        caDir_ + QStringLiteral("/server.key"),
                        QStringLiteral("--credit"),
                        credit,
                        QStringLiteral("--currency"),
                        currency,
                        QStringLiteral("--record"),
                        recordFile_};
    if (stalling_)
        args << QStringLiteral("--stall");
    if (!process_.start(QStringLiteral("python3"), args)) {
        error_ = QStringLiteral("python3 did not start");
        return false;
    }
    // The stub prints this once its socket listens.
    if (!process_.waitForOutput(QStringLiteral("listening on"), 10000)) {
        error_ = QStringLiteral("the billing stub did not come up: ") + process_.output();
        process_.stop();
        return false;
    }
    return true;
}

bool HttpsServer::set(const QString& query) {
    CurlHttpsClient client(caFile());
    const HttpsResponse r = client.get(QStringLiteral("https://%1/set?%2").arg(host(), query), 100);
    return r.outcome == HttpsResponse::Outcome::Ok && r.status == 200;
}

void HttpsServer::stop() {
    process_.stop();
}

HttpsServer::Query HttpsServer::lastQuery() const {
    Query q;
    QFile f(recordFile_);
    if (recordFile_.isEmpty() || !f.open(QIODevice::ReadOnly))
        return q;
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    q.received = !o.isEmpty();
    q.login = Strings(o.value(QStringLiteral("login")));
    q.pwd = Strings(o.value(QStringLiteral("pwd")));
    q.raw = o.value(QStringLiteral("query")).toString();
    return q;
}

} // namespace lab

// The local HTTPS billing server (billing_stub.py) with a test CA of its own, for tests that go
// through the real HTTPS client.
#pragma once

#include "lab/LabProcess.h"

#include <QString>
#include <QStringList>

namespace lab {

class HttpsServer {
public:
    // The CA and the server certificate live in runDir()/<caName>; servers naming the same CA
    // share it, servers with different names are signed by unrelated CAs.
    explicit HttpsServer(QString caName = QStringLiteral("billing-ca"));
    ~HttpsServer() { stop(); }
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    // Makes the CA when missing, starts the server on a free port and waits until it accepts
    // connections. False (with the reason in error()) when any of that fails.
    bool start(const QString& credit = QStringLiteral("12.50"),
               const QString& currency = QStringLiteral("EUR"));
    // Takes balance queries and never answers them (a billing server that hangs); for the next
    // start.
    void setStalling(bool on) { stalling_ = on; }
    // Changes the answer of later balance queries while running: "credit=..", "currency=..",
    // "pad=N" (N bytes before the tags), as the stub's /set takes them.
    bool set(const QString& query);
    void stop();

    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    int port() const { return port_; }
    QString caFile() const;
    QString error() const { return error_; }
    QString log() const { return process_.output(); }

    // What the server decoded from the last balance query's "login" and "pwd" (each key's values
    // in order: a value that split the query shows up as extra keys or values), and the raw query.
    struct Query {
        bool received = false;
        QStringList login;
        QStringList pwd;
        QString raw;
    };
    Query lastQuery() const;

private:
    QString caDir_;
    QString recordFile_;
    int port_ = 0;
    bool stalling_ = false;
    QString error_;
    Process process_;
};

// Makes a CA and a server certificate in `dir` (kept when already there).
bool makeTestCa(const QString& dir, QString* output = nullptr);

} // namespace lab

// IHttpsClient over libcurl: one blocking GET per call, certificate and host name verification
// always on, HTTPS only, bounded time-outs.
#pragma once

#include "platform/Https.h"

#include <QByteArray>
#include <QString>

#include <atomic>

class CurlHttpsClient : public IHttpsClient {
public:
    // `extraCaFile`: a PEM file of certificates trusted in addition to the system's (empty: the
    // system's only). `systemCaFile`: the system bundle to keep trusting alongside it; empty
    // means libcurl's built-in one (tests name another so that "in addition" can be checked).
    explicit CurlHttpsClient(QString extraCaFile = {}, int connectTimeoutMs = 3000, int totalTimeoutMs = 5000,
                             QString systemCaFile = {});

    // Ok: a response arrived (any HTTP status); the body stops at `maxBytes`, after which the
    // transfer is abandoned without counting as a failure. NoResponse: the address is malformed
    // or not https. Exception: everything that fails on the way (refused, name lookup, TLS,
    // certificate, time-out, broken transfer).
    HttpsResponse get(const QString& url, int maxBytes) override;
    void cancel() override { cancelled_ = true; }

private:
    QString extraCaFile_;
    int connectTimeoutMs_;
    int totalTimeoutMs_;
    QString systemCaFile_;
    // The system bundle followed by the extra certificates, handed to libcurl from memory; empty
    // when there is no extra file, so that libcurl's defaults apply untouched.
    QByteArray caBundle_;
    QString caError_;
    std::atomic<bool> cancelled_{false};
};

// One blocking HTTPS GET with certificate verification and bounded time-outs.
#pragma once

#include <QByteArray>
#include <QString>

struct HttpsResponse {
    enum class Outcome {
        Ok,        // a response was received; `body` holds at most the asked number of bytes
        Exception, // the request failed on the way (connect, TLS, time-out, transfer)
        NoResponse // the request could not be made at all (bad address)
    };
    Outcome outcome = Outcome::NoResponse;
    long status = 0;
    QByteArray body;
    QString error;
};

class IHttpsClient {
public:
    virtual ~IHttpsClient() = default;
    // Reads at most `maxBytes` of the response body.
    virtual HttpsResponse get(const QString& url, int maxBytes) = 0;
    // The program is ending: a get() under way, and every later one, ends at once as failed.
    // Safe to call from any thread.
    virtual void cancel() {}
};

// The HTTPS client against the local billing server: trust, refusals, time-outs and the body
// limit.
#include "lab/HttpsServer.h"
#include "platform/HttpsClient.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Outcome = HttpsResponse::Outcome;

const char* OutcomeName(Outcome o) {
    switch (o) {
    case Outcome::Ok:
        return "Ok";
    case Outcome::Exception:
        return "Exception";
    case Outcome::NoResponse:
        return "NoResponse";
    }
    return "?";
}

std::string Describe(const HttpsResponse& r) {
    return std::string(OutcomeName(r.outcome)) + " status " + std::to_string(r.status) + ": " +
           r.error.toStdString();
}

// A TCP socket on 127.0.0.1 that listens but never accepts: connections complete in the kernel
// and then nothing ever answers, so the TLS handshake hangs.
class SilentListener {
public:
    SilentListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd_, 8) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
    }
    ~SilentListener() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SilentListener(const SilentListener&) = delete;
    SilentListener& operator=(const SilentListener&) = delete;
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace

class HttpsClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new lab::HttpsServer(QStringLiteral("billing-ca"));
        other = new lab::HttpsServer(QStringLiteral("other-ca"));
        ok = server->start() && other->start(QStringLiteral("1"), QStringLiteral("USD"));
    }
    static void TearDownTestSuite() {
        delete server;
        delete other;
        server = other = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(ok) << server->error().toStdString() << other->error().toStdString();
    }

    static QString url(const lab::HttpsServer* s, const QString& path) {
        return QStringLiteral("https://%1%2").arg(s->host(), path);
    }

    static inline lab::HttpsServer* server = nullptr;
    static inline lab::HttpsServer* other = nullptr; // signed by an unrelated CA
    static inline bool ok = false;
};

TEST_F(HttpsClientTest, TrustsTheServerThroughTheExtraCa) {
    CurlHttpsClient client(server->caFile());
    const HttpsResponse r =
        client.get(url(server, QStringLiteral("/callshop/getBalance.php?login=a&pwd=b")), 10000);
    ASSERT_EQ(r.outcome, Outcome::Ok) << Describe(r);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, QByteArray("<cradit>12.50</cradit><currency>EUR</currency>"));

    // The certificate names localhost too; the host name is checked against it either way.
    const HttpsResponse byName = client.get(
        QStringLiteral("https://localhost:%1/callshop/getBalance.php?login=a&pwd=b").arg(server->port()),
        10000);
    EXPECT_EQ(byName.outcome, Outcome::Ok) << Describe(byName);
}

TEST_F(HttpsClientTest, RefusesAServerItCannotVerify) {
    // System store only: the test CA is not in it.
    CurlHttpsClient systemOnly;
    HttpsResponse r = systemOnly.get(url(server, QStringLiteral("/callshop/getBalance.php")), 10000);
    EXPECT_EQ(r.outcome, Outcome::Exception) << Describe(r);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_TRUE(r.body.isEmpty());

    // Trusting one CA does not open the door to another one's server.
    CurlHttpsClient wrongCa(server->caFile());
    r = wrongCa.get(url(other, QStringLiteral("/callshop/getBalance.php")), 10000);
    EXPECT_EQ(r.outcome, Outcome::Exception) << Describe(r);
}

TEST_F(HttpsClientTest, ExtraCaIsTrustedInAdditionToTheSystemBundle) {
    // Let the other CA play the system bundle: both servers must be accepted.
    CurlHttpsClient client(server->caFile(), 3000, 5000, other->caFile());
    const HttpsResponse a = client.get(url(server, QStringLiteral("/callshop/getBalance.php")), 10000);
    const HttpsResponse b = client.get(url(other, QStringLiteral("/callshop/getBalance.php")), 10000);
    EXPECT_EQ(a.outcome, Outcome::Ok) << Describe(a);
    EXPECT_EQ(b.outcome, Outcome::Ok) << Describe(b);
    EXPECT_EQ(b.body, QByteArray("<cradit>1</cradit><currency>USD</currency>"));
}

TEST_F(HttpsClientTest, UnreadableExtraCaFailsTheRequest) {
    CurlHttpsClient client(QStringLiteral("/nonexistent/ca.pem"));
    const HttpsResponse r = client.get(url(server, QStringLiteral("/callshop/getBalance.php")), 10000);
    EXPECT_EQ(r.outcome, Outcome::Exception) << Describe(r);
}

TEST_F(HttpsClientTest, HttpStatusIsReportedNotTreatedAsFailure) {
    CurlHttpsClient client(server->caFile());
    const HttpsResponse r = client.get(url(server, QStringLiteral("/no/such/page")), 10000);
    ASSERT_EQ(r.outcome, Outcome::Ok) << Describe(r);
    EXPECT_EQ(r.status, 404);
}

TEST_F(HttpsClientTest, BodyStopsAtMaxBytes) {
    CurlHttpsClient client(server->caFile());
    ASSERT_EQ(client.get(url(server, QStringLiteral("/set?pad=200000")), 100).outcome, Outcome::Ok);
    HttpsResponse r = client.get(url(server, QStringLiteral("/callshop/getBalance.php")), 100);
    ASSERT_EQ(r.outcome, Outcome::Ok) << Describe(r);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, QByteArray(100, 'x'));

    // A limit above the body's size takes the body whole.
    ASSERT_EQ(client.get(url(server, QStringLiteral("/set?pad=5")), 100).outcome, Outcome::Ok);
    r = client.get(url(server, QStringLiteral("/callshop/getBalance.php")), 100000);
    ASSERT_EQ(r.outcome, Outcome::Ok) << Describe(r);
    EXPECT_EQ(r.body, QByteArray("xxxxx<cradit>12.50</cradit><currency>EUR</currency>"));
    ASSERT_EQ(client.get(url(server, QStringLiteral("/set?pad=0")), 100).outcome, Outcome::Ok);
}

TEST_F(HttpsClientTest, UnusableAddressesGiveNoResponse) {
    CurlHttpsClient client(server->caFile());
    const QStringList bad = {
        QString(),
        QStringLiteral("not an address"),
        QStringLiteral("https://"),
        QStringLiteral("http://%1/callshop/getBalance.php").arg(server->host()), // plain HTTP is never used
        QStringLiteral("ftp://%1/").arg(server->host()),
    };
    for (const QString& u : bad) {
        const HttpsResponse r = client.get(u, 10000);
        EXPECT_EQ(r.outcome, Outcome::NoResponse) << u.toStdString() << ": " << Describe(r);
    }
}

TEST_F(HttpsClientTest, ServerDownFailsQuickly) {
    const int port = lab::freePort();
    ASSERT_NE(port, 0);
    CurlHttpsClient client(server->caFile());
    QElapsedTimer t;
    t.start();
    const HttpsResponse r =
        client.get(QStringLiteral("https://127.0.0.1:%1/callshop/getBalance.php").arg(port), 10000);
    EXPECT_EQ(r.outcome, Outcome::Exception) << Describe(r);
    EXPECT_LT(t.elapsed(), 2000);
}

TEST_F(HttpsClientTest, SilentServerHitsTheConnectTimeOut) {
    SilentListener silent;
    ASSERT_NE(silent.port(), 0);
    CurlHttpsClient client(server->caFile()); // 3 s to connect (TLS included), 5 s in all
    QElapsedTimer t;
    t.start();
    const HttpsResponse r = client.get(QStringLiteral("https://127.0.0.1:%1/").arg(silent.port()), 10000);
    const qint64 elapsed = t.elapsed();
    EXPECT_EQ(r.outcome, Outcome::Exception) << Describe(r);
    EXPECT_GE(elapsed, 2500);
    EXPECT_LT(elapsed, 4500);
}

TEST_F(HttpsClientTest, StalledAnswerHitsTheTotalTimeOut) {
    CurlHttpsClient client(server->caFile());
    QElapsedTimer t;
    t.start();
    const HttpsResponse r = client.get(url(server, QStringLiteral("/stall")), 10000);
    const qint64 elapsed = t.elapsed();
    EXPECT_EQ(r.outcome, Outcome::Exception) << Describe(r);
    EXPECT_GE(elapsed, 4500);
    EXPECT_LT(elapsed, 8000);
}

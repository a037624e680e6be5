// The balance query's address and the text cut out of the answer, alone and through the real
// HTTPS client against the local billing server.
#include "engine/Balance.h"
#include "lab/HttpsServer.h"
#include "platform/HttpsClient.h"

#include <QUrl>

#include <gtest/gtest.h>

TEST(BalanceText, CreditAndCurrency) {
    EXPECT_EQ(BalanceText("<cradit>12.50</cradit><currency>EUR</currency>"),
              QStringLiteral("Balance: 12.50EUR"));
    EXPECT_EQ(BalanceText("<html><body>\r\n<cradit>-3</cradit>\n<currency>USD</currency></body></html>"),
              QStringLiteral("Balance: -3USD"));
}

TEST(BalanceText, NoTagsGiveOnlyTheLabel) {
    EXPECT_EQ(BalanceText(QByteArray()), QStringLiteral("Balance: "));
    EXPECT_EQ(BalanceText("Internal error, try later"), QStringLiteral("Balance: "));
}

TEST(BalanceText, OpeningCreditTagWithoutClosingGivesEmptyCredit) {
    EXPECT_EQ(BalanceText("<cradit>12.50<currency>EUR</currency>"), QStringLiteral("Balance: EUR"));
}

TEST(BalanceText, ClosingCreditTagAloneCutsFromPositionSeven) {
    // "</cradit>" at 10 with no opening tag: the credit is the characters at 7, 8 and 9.
    EXPECT_EQ(BalanceText("0123456789</cradit><currency>EUR</currency>"), QStringLiteral("Balance: 789EUR"));
    EXPECT_EQ(BalanceText("0123456789</currency>"), QStringLiteral("Balance: 9"));
}

TEST(BalanceText, ClosingTagBeforeOpeningGivesEmptyPiece) {
    EXPECT_EQ(BalanceText("</cradit>5<cradit><currency>EUR</currency>"), QStringLiteral("Balance: EUR"));
}

TEST(BalanceText, TagsInCapitalsAreNotRecognised) {
    EXPECT_EQ(BalanceText("<CRADIT>12.50</CRADIT><CURRENCY>EUR</CURRENCY>"), QStringLiteral("Balance: "));
    EXPECT_EQ(BalanceText("<Cradit>12.50</Cradit><currency>EUR</currency>"), QStringLiteral("Balance: EUR"));
}

TEST(BalanceText, FirstOccurrenceCounts) {
    EXPECT_EQ(BalanceText("<cradit>1</cradit><cradit>2</cradit><currency>A</currency><currency>B</currency>"),
              QStringLiteral("Balance: 1A"));
}

TEST(BalanceText, AnswerEndsAtFirstZeroByte) {
    const QByteArray answer("<cradit>12.50</cradit>\0<currency>EUR</currency>", 47);
    EXPECT_EQ(BalanceText(answer), QStringLiteral("Balance: 12.50"));
}

TEST(BalanceText, Utf8IsDecodedAndPositionsCountCharacters) {
    EXPECT_EQ(BalanceText("\xE2\x82\xAC<cradit>7,5</cradit><currency>\xE2\x82\xAC</currency>"),
              QStringLiteral("Balance: 7,5\u20ac"));
}

TEST(BalanceUrl, LettersAndDigitsAreSentUnchanged) {
    EXPECT_EQ(
        BalanceUrl(QStringLiteral("billing.example.net"), QStringLiteral("alice42"),
                   QStringLiteral("Secret7")),
        QStringLiteral("https://billing.example.net/callshop/getBalance.php?login=alice42&pwd=Secret7"));
    EXPECT_EQ(BalanceUrl(QStringLiteral("127.0.0.1:8443"), QStringLiteral("u"), QStringLiteral("p")),
              QStringLiteral("https://127.0.0.1:8443/callshop/getBalance.php?login=u&pwd=p"));
}

TEST(BalanceUrl, QuerySyntaxCharactersAreEncoded) {
    EXPECT_EQ(BalanceUrl(QStringLiteral("h"), QStringLiteral("a&b=c"), QStringLiteral("p#q+r%s t")),
              QStringLiteral("https://h/callshop/getBalance.php?login=a%26b%3Dc&pwd=p%23q%2Br%25s%20t"));
    // Non-ASCII text goes out as UTF-8.
    EXPECT_EQ(BalanceUrl(QStringLiteral("h"), QStringLiteral("j\u00fcrgen"), QStringLiteral("\u20ac")),
              QStringLiteral("https://h/callshop/getBalance.php?login=j%C3%BCrgen&pwd=%E2%82%AC"));
    // The result is an address a URL parser accepts as it stands.
    EXPECT_TRUE(
        QUrl(BalanceUrl(QStringLiteral("h"), QStringLiteral("a b"), QStringLiteral("#")), QUrl::StrictMode)
            .isValid());
}

// The whole query against the local billing server.
class BalanceOverHttps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new lab::HttpsServer();
        ok = server->start();
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(ok) << server->error().toStdString(); }

    static void setPad(int pad) {
        CurlHttpsClient client(server->caFile());
        const auto r = client.get(QStringLiteral("https://%1/set?pad=%2").arg(server->host()).arg(pad), 100);
        ASSERT_EQ(r.outcome, HttpsResponse::Outcome::Ok) << r.error.toStdString();
    }
    static HttpsResponse query(const QString& user = QStringLiteral("u"),
                               const QString& password = QStringLiteral("p")) {
        CurlHttpsClient client(server->caFile());
        return client.get(BalanceUrl(server->host(), user, password), kBalanceMaxBytes);
    }

    static inline lab::HttpsServer* server = nullptr;
    static inline bool ok = false;
};

TEST_F(BalanceOverHttps, LoginAndPasswordArriveAsTyped) {
    const QString user = QStringLiteral("a&b=c d+e");
    const QString password = QStringLiteral("p#q%25r&pwd=x \u00fc");
    const HttpsResponse r = query(user, password);
    ASSERT_EQ(r.outcome, HttpsResponse::Outcome::Ok) << r.error.toStdString();
    EXPECT_EQ(BalanceText(r.body), QStringLiteral("Balance: 12.50EUR"));
    const auto q = server->lastQuery();
    ASSERT_TRUE(q.received);
    EXPECT_EQ(q.login, QStringList{user});
    EXPECT_EQ(q.pwd, QStringList{password});
}

TEST_F(BalanceOverHttps, OnlyTheFirstTenThousandBytesAreExamined) {
    const QByteArray tags = "<cradit>12.50</cradit><currency>EUR</currency>";
    const int fit = kBalanceMaxBytes - static_cast<int>(tags.size());

    setPad(fit); // the last '>' is the 10000th byte
    HttpsResponse r = query();
    ASSERT_EQ(r.outcome, HttpsResponse::Outcome::Ok) << r.error.toStdString();
    EXPECT_EQ(r.body.size(), kBalanceMaxBytes);
    EXPECT_EQ(BalanceText(r.body), QStringLiteral("Balance: 12.50EUR"));

    setPad(fit + 1); // "</currency>" loses its '>': absent
    r = query();
    ASSERT_EQ(r.outcome, HttpsResponse::Outcome::Ok) << r.error.toStdString();
    EXPECT_EQ(r.body.size(), kBalanceMaxBytes);
    EXPECT_EQ(BalanceText(r.body), QStringLiteral("Balance: 12.50"));

    setPad(kBalanceMaxBytes); // every tag lies beyond
    r = query();
    ASSERT_EQ(r.outcome, HttpsResponse::Outcome::Ok) << r.error.toStdString();
    EXPECT_EQ(BalanceText(r.body), QStringLiteral("Balance: "));
    setPad(0);
}

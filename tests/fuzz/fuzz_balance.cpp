// The billing server's answer to the balance query, and the query's own address.
#include "FuzzSupport.h"

#include "engine/Balance.h"

#include <QUrl>
#include <QUrlQuery>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

const QString kPrefix = QStringLiteral("Balance: ");

// Text that cannot hold a tag nor end the answer early.
QByteArray Plain(std::string s) {
    QByteArray b = QByteArray::fromStdString(s);
    b.replace('<', '(');
    b.replace('\0', ' ');
    return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Any answer at all; nothing after its first zero byte counts, so tags hidden there change
    // nothing.
    const QByteArray answer(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString text = BalanceText(answer);
    FUZZ_CHECK(text.startsWith(kPrefix));
    FUZZ_CHECK(BalanceText(answer + QByteArrayLiteral("\0<cradit>1</cradit><currency>X</currency>")) == text);

    FuzzedDataProvider in(data, size);

    // A well-formed answer, with anything around and between the tags: the credit and the
    // currency come out as sent. Tags after the first of each kind do not count.
    const QByteArray before = Plain(in.ConsumeRandomLengthString());
    const QByteArray credit = Plain(in.ConsumeRandomLengthString());
    const QByteArray between = Plain(in.ConsumeRandomLengthString());
    const QByteArray currency = Plain(in.ConsumeRandomLengthString());
    const QByteArray after = QByteArray::fromStdString(in.ConsumeRandomLengthString());
    const QByteArray wellFormed = before + "<cradit>" + credit + "</cradit>" + between + "<currency>" +
                                  currency + "</currency>" + after;
    const QString expected = kPrefix + QString::fromUtf8(credit) + QString::fromUtf8(currency);
    FUZZ_CHECK_MSG(BalanceText(wellFormed) == expected,
                   fuzz::Dump(QString::fromUtf8(wellFormed)) + u'\n' + fuzz::Dump(BalanceText(wellFormed)));

    // The query's address: whatever the user name and password hold, the server reads back the
    // same two values (as UTF-8 bytes) and nothing else. A '+' would read as a blank there.
    const QString user = QString::fromStdString(in.ConsumeRandomLengthString());
    const QString password = QString::fromStdString(in.ConsumeRemainingBytesAsString());
    const QUrl url(BalanceUrl(QStringLiteral("billing.test:8443"), user, password), QUrl::StrictMode);
    FUZZ_CHECK_MSG(url.isValid(), url.errorString());
    FUZZ_CHECK(url.scheme() == u"https" && url.host() == u"billing.test" && url.port() == 8443);
    FUZZ_CHECK(url.path() == u"/callshop/getBalance.php");
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyEncoded);
    FUZZ_CHECK_MSG(items.size() == 2, url.query());
    const auto sent = [](const QString& encoded) {
        FUZZ_CHECK_MSG(!encoded.contains(u'+'), encoded);
        return QByteArray::fromPercentEncoding(encoded.toLatin1());
    };
    FUZZ_CHECK_MSG(items[0].first == u"login" && sent(items[0].second) == user.toUtf8(), url.query());
    FUZZ_CHECK_MSG(items[1].first == u"pwd" && sent(items[1].second) == password.toUtf8(), url.query());
    return 0;
}

#include "engine/Balance.h"

#include <QUrl>

namespace {

// `count` characters of `text` from `start`; a negative count takes nothing, a start at or past
// the end gives nothing, and a piece running past the end stops there.
QString Piece(const QString& text, qsizetype start, qsizetype count) {
    if (count <= 0 || start < 0 || start >= text.size())
        return {};
    return text.mid(start, qMin(count, text.size() - start));
}

} // namespace

QString BalanceUrl(const QString& billingHost, const QString& user, const QString& password) {
    // toPercentEncoding leaves only the unreserved characters (letters, digits, "-._~") as they
    // are, which is what a query value needs.
    return QStringLiteral("https://") + billingHost + QStringLiteral("/callshop/getBalance.php?login=") +
           QString::fromLatin1(QUrl::toPercentEncoding(user)) + QStringLiteral("&pwd=") +
           QString::fromLatin1(QUrl::toPercentEncoding(password));
}

QString BalanceText(const QByteArray& response) {
    const qsizetype zero = response.indexOf('\0');
    const QString text = QString::fromUtf8(zero < 0 ? response : response.left(zero));

    const qsizetype c1 = text.indexOf(QLatin1String("<cradit>"));
    const qsizetype c2 = text.indexOf(QLatin1String("</cradit>"));
    const qsizetype u1 = text.indexOf(QLatin1String("<currency>"));
    const qsizetype u2 = text.indexOf(QLatin1String("</currency>"));

    const QString credit = Piece(text, c1 + 8, c2 - (c1 + 8));
    const QString currency = Piece(text, u1 + 10, u2 - (u1 + 10));
    return QStringLiteral("Balance: ") + credit + currency;
}

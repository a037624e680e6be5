// The balance query's pure parts: the request address and the text shown from the answer.
#pragma once

#include <QByteArray>
#include <QString>

// The answer is examined only up to this many bytes; anything after it is never read.
constexpr int kBalanceMaxBytes = 10000;

// "https://<host>/callshop/getBalance.php?login=<user>&pwd=<password>". The user name and the
// password are percent-encoded (UTF-8) so that "&", "#", "+", "%", "=" or a blank in them cannot
// change the query; letters, digits and "-._~" go through unchanged. The host is used as given
// (it may carry a ":port").
QString BalanceUrl(const QString& billingHost, const QString& user, const QString& password);

// "Balance: " + credit + currency, cut out of the answer by the positions of "<cradit>",
// "</cradit>", "<currency>" and "</currency>" (first occurrence each, case-sensitive, counted in
// UTF-16 code units). A missing tag has position -1 and still takes part in the arithmetic, so a
// missing opening credit tag makes the credit start at 7. The answer ends at its first zero byte.
QString BalanceText(const QByteArray& response);

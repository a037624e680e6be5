#include "engine/BalanceQuery.h"

#include "engine/Balance.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <QLoggingCategory>

#include <memory>

Q_LOGGING_CATEGORY(lcBalance, "orvane.balance", QtWarningMsg)

namespace {

void ShowBalance(Phone& phone, const HttpsResponse& response) {
    if (response.outcome != HttpsResponse::Outcome::Ok || response.status >= 400)
        qCInfo(lcBalance, "the balance query failed: %s (HTTP status %ld)", qUtf8Printable(response.error),
               static_cast<long>(response.status));
    if (response.outcome == HttpsResponse::Outcome::Exception)
        phone.box.show(QStringLiteral("Received Exception from OpenURL()"));
    // An HTTP error page carries no balance: report it instead of showing an empty one.
    if (response.outcome != HttpsResponse::Outcome::Ok || response.status >= 400) {
        phone.box.show(QStringLiteral("Error in OpenURL"));
        return;
    }
    phone.view.showControl(ctl::Balance);
    phone.view.setText(ctl::Balance, BalanceText(response.body));
}

} // namespace

void QueryBalance(Phone& phone) {
    // The account is read now, as the query is asked for; the answer, however long it takes,
    // is shown after those of the queries asked before it.
    const QString url = BalanceUrl(phone.config.billingHost, phone.view.text(ctl::UserNameField),
                                   phone.view.text(ctl::PasswordField));
    auto response = std::make_shared<HttpsResponse>();
    IHttpsClient& https = phone.https;
    phone.worker.post([&https, url, response] { *response = https.get(url, kBalanceMaxBytes); },
                      [&phone, response] { ShowBalance(phone, *response); });
}

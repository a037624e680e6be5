#include "engine/BalanceQuery.h"

#include "engine/Balance.h"
#include "mainwindow/ControlIds.h"
#include "mainwindow/Phone.h"

void QueryBalance(Phone& phone) {
    const QString url = BalanceUrl(phone.config.billingHost, phone.view.text(ctl::UserNameField),
                                   phone.view.text(ctl::PasswordField));
    const HttpsResponse response = phone.https.get(url, kBalanceMaxBytes);
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

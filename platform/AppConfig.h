// Fixed configuration of the program: the service's built-in hosts and addresses, which the
// environment may override once at start (so that the program can run against a local service).
#pragma once

#include <QString>

// Built-in defaults.
inline const QString kDefaultSipServer = QStringLiteral("sip.orvanephone.com");
inline const QString kDefaultBillingHost = QStringLiteral("billing.orvanephone.com");
inline const QString kWebSiteUrl = QStringLiteral("http://www.orvanephone.com");
inline const QString kBillingSiteUrl = QStringLiteral("https://billing.orvanephone.com");
inline const QString kUserGuideUrl =
    QStringLiteral("http://www.orvanephone.com/sip-softphone-user_guide.pdf");

struct AppConfig {
    QString sipServer = kDefaultSipServer;     // host[:port] of the SIP server
    QString billingHost = kDefaultBillingHost; // host[:port] of the billing server
    QString caFile;                            // an extra CA file trusted for the billing server

    // ORVANE_SIP_SERVER, ORVANE_BILLING_HOST, ORVANE_CA_FILE; unset or empty keeps the default.
    static AppConfig fromEnvironment();
};

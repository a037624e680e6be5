#include "platform/AppConfig.h"

#include <QtGlobal>

AppConfig AppConfig::fromEnvironment() {
    AppConfig c;
    const auto override = [](const char* name, QString& value) {
        const QString v = qEnvironmentVariable(name).trimmed();
        if (!v.isEmpty())
            value = v;
    };
    override("ORVANE_SIP_SERVER", c.sipServer);
    override("ORVANE_BILLING_HOST", c.billingHost);
    override("ORVANE_CA_FILE", c.caFile);
    return c;
}

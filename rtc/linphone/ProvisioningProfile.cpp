#include "rtc/linphone/ProvisioningProfile.h"

#include <QXmlStreamReader>

namespace rtc::lin {

namespace {

// Only UDP is offered by the engine's SIP stack; an absent protocol means UDP as well.
bool isUdp(QStringView protocol) {
    return protocol.isEmpty() || protocol.compare(u"UDP", Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<ProvisioningProfile> parseProvisioningProfile(const QString& xml) {
    QXmlStreamReader reader(xml);
    ProvisioningProfile p;
    bool sawRoot = false;
    bool sawUser = false;
    bool sawRegistrar = false;
    int depth = 0;

    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement()) {
            --depth;
            continue;
        }
        if (!reader.isStartElement())
            continue;
        ++depth;
        const QStringView name = reader.name();
        const QXmlStreamAttributes attrs = reader.attributes();
        if (depth == 1) {
            if (name != u"provision")
                return std::nullopt;
            sawRoot = true;
            p.key = attrs.value(QLatin1String("key")).toString();
            p.name = attrs.value(QLatin1String("name")).toString();
            if (attrs.hasAttribute(QLatin1String("expires"))) {
                bool ok = false;
                const int expires = attrs.value(QLatin1String("expires")).toInt(&ok);
                if (!ok || expires <= 0)
                    return std::nullopt;
                p.expires = expires;
            }
        } else if (depth == 2 && name == u"user") {
            sawUser = true;
            p.account = attrs.value(QLatin1String("account")).toString();
            p.userName = attrs.value(QLatin1String("name")).toString();
            p.password = attrs.value(QLatin1String("password")).toString();
            p.uri = attrs.value(QLatin1String("uri")).toString();
        } else if (depth == 2 && name == u"sipsrv") {
            if (!isUdp(attrs.value(QLatin1String("protocol"))))
                return std::nullopt;
            const QString addr = attrs.value(QLatin1String("addr")).toString();
            const QStringView role = attrs.value(QLatin1String("role"));
            if (role == u"registrar") {
                sawRegistrar = true;
                p.registrarAddr = addr;
            } else if (role == u"proxy") {
                p.proxyAddr = addr;
            }
        }
    }
    if (reader.hasError() || !sawRoot)
        return std::nullopt;
    if (!sawUser || p.account.isEmpty() || p.uri.isEmpty())
        return std::nullopt;
    if (!sawRegistrar || p.registrarAddr.isEmpty())
        return std::nullopt;
    return p;
}

} // namespace rtc::lin

// The account a provisioning profile describes, read from its XML text.
#pragma once

#include <QString>

#include <optional>

namespace rtc::lin {

struct ProvisioningProfile {
    QString key;
    QString name;
    int expires = 600; // registration lifetime asked of the registrar, in seconds

    QString account;  // digest user name
    QString userName; // display name
    QString password;
    QString uri; // "user@host[:port]", as typed (no scheme)

    QString proxyAddr;     // "host[:port]"; empty when the profile names no proxy
    QString registrarAddr; // "host[:port]"
};

// Parses the profile with a real XML parser, so escaped values (&amp; &quot; ...) come out as
// typed. Returns nothing for malformed XML, a root other than <provision>, a missing user
// (account or uri), a missing registrar, a transport other than UDP, or an unusable expiry.
std::optional<ProvisioningProfile> parseProvisioningProfile(const QString& xml);

} // namespace rtc::lin

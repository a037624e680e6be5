// The provisioning profile reader of the engine, and the profile the login builds for it.
#include "FuzzSupport.h"

#include "engine/Registration.h"
#include "rtc/linphone/ProvisioningProfile.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

// Whether an XML parser must give `s` back unchanged from an attribute value: only characters
// XML allows (tab, CR and LF go as character references, which keep them).
bool SurvivesAttribute(const QString& s) {
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t u = s.at(i).unicode();
        if (QChar::isHighSurrogate(u)) {
            if (i + 1 == s.size() || !s.at(i + 1).isLowSurrogate())
                return false;
            ++i;
            continue;
        }
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || QChar::isLowSurrogate(u) || u == 0xFFFE ||
            u == 0xFFFF)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Any text as a profile: a profile that is accepted always has what registering needs.
    const QString xml = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto p = rtc::lin::parseProvisioningProfile(xml)) {
        FUZZ_CHECK(!p->account.isEmpty() && !p->uri.isEmpty() && !p->registrarAddr.isEmpty());
        FUZZ_CHECK(p->expires > 0);
    }

    // The login's own profile, from any user name, password and server: it reads back as typed.
    FuzzedDataProvider in(data, size);
    const QString user = QString::fromStdString(in.ConsumeRandomLengthString());
    const QString password = QString::fromStdString(in.ConsumeRandomLengthString());
    const QString server = QString::fromStdString(in.ConsumeRemainingBytesAsString());
    const QString built = BuildProfileXml(user, password, server);
    const auto p = rtc::lin::parseProvisioningProfile(built);
    const bool exact = SurvivesAttribute(user) && SurvivesAttribute(password) && SurvivesAttribute(server);
    if (!exact)
        return 0; // such a profile need not parse; when it does, its blanks may differ
    // The login never sends an empty user name or server; the reader refuses them.
    if (user.isEmpty() || server.isEmpty()) {
        FUZZ_CHECK(!p);
        return 0;
    }
    FUZZ_CHECK_MSG(p.has_value(), fuzz::Dump(built));
    FUZZ_CHECK_MSG(p->account == user, fuzz::Dump(user) + u'\n' + fuzz::Dump(p->account));
    FUZZ_CHECK_MSG(p->userName == user, fuzz::Dump(user) + u'\n' + fuzz::Dump(p->userName));
    FUZZ_CHECK_MSG(p->password == password, fuzz::Dump(password) + u'\n' + fuzz::Dump(p->password));
    FUZZ_CHECK_MSG(p->uri == user + u'@' + server, fuzz::Dump(p->uri));
    FUZZ_CHECK_MSG(p->registrarAddr == server, fuzz::Dump(server) + u'\n' + fuzz::Dump(p->registrarAddr));
    FUZZ_CHECK_MSG(p->proxyAddr == server, fuzz::Dump(server) + u'\n' + fuzz::Dump(p->proxyAddr));
    FUZZ_CHECK(p->key == kProfileKey && p->name == user && p->expires == 600);
    return 0;
}

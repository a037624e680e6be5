// The caller shown for an incoming call, cut out of the remote party's SIP address.
#include "FuzzSupport.h"

#include "calls/Session.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Any text at all: whatever comes back is a piece of the address before its first '@'.
    const QString uri = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString caller = CallerFromUri(uri);
    const qsizetype at = uri.indexOf(u'@');
    FUZZ_CHECK(at >= 0 || caller.isEmpty());
    FUZZ_CHECK(caller.isEmpty() || uri.left(at).endsWith(caller));

    // The addresses a SIP peer sends: the user part of "sip:<user>@<host>" comes back whole, and
    // neither the host nor its port can leak into it.
    FuzzedDataProvider in(data, size);
    QString user = QString::fromStdString(in.ConsumeRandomLengthString());
    user.remove(u':').remove(u'@');
    const QString host = QString::fromStdString(in.ConsumeRemainingBytesAsString());
    for (const QString& scheme : {QStringLiteral("sip:"), QStringLiteral("sips:")}) {
        const QString address = scheme + user + u'@' + host;
        FUZZ_CHECK_MSG(CallerFromUri(address) == user, fuzz::Dump(address));
    }
    return 0;
}

// Links given on the command line or handed over by a second start: whatever the text, what
// comes out is a number the phone can dial and tones it can send, or a refusal saying why.
#include "FuzzSupport.h"

#include "calls/CallLink.h"
#include "calls/Pickup.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    QString why;
    const auto link = ParseCallLink(text, &why);
    if (!link) {
        FUZZ_CHECK_MSG(!why.isEmpty(), fuzz::Dump(text));
        return 0;
    }
    FUZZ_CHECK_MSG(why.isEmpty(), fuzz::Dump(text));
    // Something to call, short enough for the number field, made of what an address may hold.
    static const QRegularExpression number(QStringLiteral("^[A-Za-z0-9+*#._~!$&'()=/-]+\\z"));
    FUZZ_CHECK_MSG(number.match(link->number).hasMatch(), fuzz::Dump(text) + u' ' + fuzz::Dump(link->number));
    FUZZ_CHECK(link->number.size() < kMaxCallTextLength);
    // Only tones and pauses after it, and the pauses first.
    static const QRegularExpression tones(QStringLiteral("^(,[0-9*#,]*)?\\z"));
    FUZZ_CHECK_MSG(tones.match(link->postDial).hasMatch(),
                   fuzz::Dump(text) + u' ' + fuzz::Dump(link->postDial));

    // A telephone number and its digits read back the same from a tel: link.
    static const QRegularExpression phone(QStringLiteral("^\\+?[0-9*#]+\\z"));
    if (phone.match(link->number).hasMatch()) {
        const auto again = ParseCallLink(QStringLiteral("tel:") + link->number + link->postDial);
        FUZZ_CHECK_MSG(again && again->number == link->number && again->postDial == link->postDial,
                       fuzz::Dump(text));
    }
    return 0;
}

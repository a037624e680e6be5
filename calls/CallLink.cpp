#include "calls/CallLink.h"

#include "calls/DialPad.h"
#include "calls/Pickup.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// Longer post-dial parts are not conference codes.
constexpr int kMaxPostDial = 64;

QString Quoted(const QString& link) {
    // Enough of the link to recognise it in a message, never the whole of a huge one.
    return QLatin1Char('"') + (link.size() > 80 ? link.left(77) + QStringLiteral("...") : link) +
           QLatin1Char('"');
}

std::optional<CallLink> Refuse(QString* error, const QString& why) {
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

std::optional<CallLink> ParseCallLink(const QString& link, QString* error) {
    const QString text = link.trimmed();
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    const QString scheme = colon > 0 ? text.left(colon).toLower() : QString();
    QString rest = text.mid(colon + 1);
    const bool sip = scheme == QLatin1String("sip") || scheme == QLatin1String("sips");
    const bool tel = scheme == QLatin1String("tel") || scheme == QLatin1String("callto");
    if (!sip && !tel)
        return Refuse(error, QStringLiteral("Only sip:, sips:, tel: and callto: links can be called, not %1.")
                                 .arg(Quoted(link)));
    const QString noNumber = QStringLiteral("The link %1 holds no number to call.").arg(Quoted(link));

    if (scheme == QLatin1String("callto") && rest.startsWith(QLatin1String("//")))
        rest = rest.mid(2);
    // Headers ("?subject=...") are of no use to a call.
    if (const qsizetype headers = rest.indexOf(QLatin1Char('?')); headers >= 0)
        rest = rest.left(headers);
    // A sip: address names its number in the user part; its host is not ours to call.
    const qsizetype at = rest.indexOf(QLatin1Char('@'));
    if (sip && at < 0)
        return Refuse(error, noNumber);
    const bool userPart = at >= 0;
    if (userPart)
        rest = rest.left(at);

    // Parameters: "postd" (pauses "p" and waits "w" both become the 2-second comma) is kept,
    // the others (isub, ext, phone-context, ...) are dropped.
    const QStringList parts = rest.split(QLatin1Char(';'));
    QString number = QUrl::fromPercentEncoding(parts.first().toUtf8());
    QString postDial;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        if (parts[i].startsWith(QLatin1String("postd="), Qt::CaseInsensitive)) {
            postDial = QUrl::fromPercentEncoding(parts[i].mid(6).toUtf8());
            postDial.replace(QRegularExpression(QStringLiteral("[pPwW]")), QStringLiteral(","));
            if (!postDial.startsWith(QLatin1Char(',')))
                postDial.prepend(QLatin1Char(','));
        }
    }
    // Digits after the first comma are dialled once the call is connected.
    if (const qsizetype comma = number.indexOf(QLatin1Char(',')); comma >= 0) {
        postDial = number.mid(comma) + postDial;
        number = number.left(comma);
    }

    // A telephone number: digits (and "*", "#") with an optional leading "+"; the visual
    // separators people write are dropped.
    static const QRegularExpression written(QStringLiteral("^\\+?[0-9*#\\s().-]+\\z"));
    if (written.match(number).hasMatch())
        number.remove(QRegularExpression(QStringLiteral("[\\s().-]")));
    // tel: (and callto: without a user part) name a telephone number; an address's user part
    // may also be a name.
    if (!userPart || scheme == QLatin1String("tel")) {
        static const QRegularExpression phone(QStringLiteral("^\\+?[0-9*#]+\\z"));
        if (!phone.match(number).hasMatch())
            return Refuse(error, noNumber);
    } else {
        // A sip user part is called as it stands, so it may only hold what an address can.
        static const QRegularExpression user(QStringLiteral("^[A-Za-z0-9+*#._~!$&'()=/-]+\\z"));
        if (!user.match(number).hasMatch())
            return Refuse(error, noNumber);
    }
    static const QRegularExpression tones(QStringLiteral("^[0-9*#,]*\\z"));
    if (!tones.match(postDial).hasMatch())
        return Refuse(error,
                      QStringLiteral("The digits after the number of the link %1 cannot be sent as tones.")
                          .arg(Quoted(link)));
    if (number.size() >= kMaxCallTextLength || postDial.size() > kMaxPostDial)
        return Refuse(error, QStringLiteral("The number of the link %1 is too long.").arg(Quoted(link)));
    return CallLink{number, postDial};
}

void QueueCallLink(Phone& phone, const CallLink& link) {
    MainState& st = phone.st;
    st.linkWaiting = 1;
    st.linkNumber = link.number;
    st.linkPostDial = link.postDial;
    phone.view.startTimer(timer::LinkWait, kLinkWaitMs);
    RunPendingCallLink(phone);
}

void RunPendingCallLink(Phone& phone) {
    MainState& st = phone.st;
    if (!st.linkWaiting || st.registered != 1 || st.callConnected || st.callInProgress || st.ringing)
        return;
    st.linkWaiting = 0;
    phone.view.stopTimer(timer::LinkWait);
    phone.view.setText(ctl::NumberField, st.linkNumber);
    phone.view.caretToEnd(ctl::NumberField);
    OnPickup(phone);
    if (st.callInProgress)
        st.postDial = st.linkPostDial;
}

void OnLinkWaitTimer(Phone& phone) {
    MainState& st = phone.st;
    phone.view.stopTimer(timer::LinkWait);
    if (!st.linkWaiting)
        return;
    st.linkWaiting = 0;
    phone.box.show(
        QStringLiteral("The call to %1 from a link was not placed: the phone could not call within a "
                       "minute.")
            .arg(st.linkNumber));
}

void OnPostDialConnected(Phone& phone) {
    if (!phone.st.postDial.isEmpty())
        OnPostDialTimer(phone);
}

void OnPostDialTimer(Phone& phone) {
    QString& rest = phone.st.postDial;
    IMainView& view = phone.view;
    if (rest.isEmpty()) {
        view.stopTimer(timer::PostDial);
        return;
    }
    const QChar c = rest.at(0);
    rest.remove(0, 1);
    if (c == QLatin1Char(',')) {
        view.startTimer(timer::PostDial, kPostDialPauseMs);
        return;
    }
    // Exactly as if pressed on the dial pad.
    if (const DialKey* key = DialKeyForChar(c))
        OnDigitButton(phone, key->control);
    if (rest.isEmpty())
        view.stopTimer(timer::PostDial);
    else
        view.startTimer(timer::PostDial, kPostDialDigitGapMs);
}

void CancelPostDial(Phone& phone) {
    phone.st.postDial.clear();
    phone.view.stopTimer(timer::PostDial);
}

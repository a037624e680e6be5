#include "calls/Pickup.h"

#include "history/CallRecords.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <limits>

using namespace rtc;

QList<int> DialToneDigits(const QString& text) {
    // Read the text as a 64-bit decimal the way the C runtime's conversion does.
    qint64 value = 0;
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && (text[i] == QLatin1Char(' ') || (text[i].unicode() >= 9 && text[i].unicode() <= 13)))
        ++i;
    bool negative = false;
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    constexpr qint64 kMax = std::numeric_limits<qint64>::max();
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    for (; i < n && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        const int d = text[i].unicode() - '0';
        if (!negative) {
            value = (value > (kMax - d) / 10) ? kMax : value * 10 + d;
        } else {
            value = (value < (kMin + d) / 10) ? kMin : value * 10 - d;
        }
    }

    QList<int> digits(n);
    for (int k = n - 1; k >= 0; --k) {
        digits[k] = static_cast<int>(value % 10);
        value /= 10;
    }
    return digits;
}

void PlayDialTones(Phone& phone, const QString& text) {
    for (const int d : DialToneDigits(text)) {
        if (d >= 0 && d <= 9)
            phone.sound.play(QStringLiteral("Dtmf-%1.wav").arg(d));
        phone.clock.sleepMs(kDialToneGapMs);
    }
}

QString CallNumber(const QString& text) {
    QString number = text.left(kCallNumberLength);
    for (QChar& c : number)
        if (c.unicode() > 0xFF)
            c = QLatin1Char('?');
    return number;
}

QString CallAddress(const QString& callNumber, const QString& server) {
    return QStringLiteral("sip:") + callNumber + QLatin1Char('@') + server;
}

void OnPickup(Phone& phone) {
    MainState& st = phone.st;
    // One call at a time: a second press while the first rings must not start another.
    if (st.callConnected || st.callInProgress)
        return;
    if (st.ringing) {
        st.lastResult = S_OK;
        if (st.session)
            st.lastResult = st.session->Answer();
        return;
    }
    const QString text = phone.view.text(ctl::NumberField);
    if (!st.registered) {
        phone.box.show(QStringLiteral("You are not registered"));
        return;
    }
    if (text.isEmpty()) {
        phone.box.show(QStringLiteral("Enter number to call"));
        return;
    }
    // Checked before the tones: they take 100 ms a character.
    if (text.size() >= kMaxCallTextLength) {
        phone.box.show(QStringLiteral("Sip url too long."));
        return;
    }
    PlayDialTones(phone, text);
    const QString number = CallNumber(text);
    CreateCallSession(phone, number);
    st.redialMemory = number;
    st.callSeconds = 0;
}

int CreateCallSession(Phone& phone, const QString& callNumber) {
    MainState& st = phone.st;
    const QString text = phone.view.text(ctl::NumberField);
    if (!text.isEmpty())
        phone.history.AppendCallRecord(CallKind::Dialled, text, phone.clock.now());
    const QString address = CallAddress(callNumber, st.serverAddress);

    st.session = nullptr;
    // After a failed engine start there is no client: the call fails like a refused session.
    st.lastResult =
        st.client ? st.client->CreateSession(RTCST_PC_TO_PC, QString(), st.profile.get(), 0, st.session.put())
                  : E_POINTER;
    if (st.lastResult != S_OK || !st.session) {
        phone.box.show(QStringLiteral("New sesion creation failed. :-("));
        return -1;
    }
    st.lastResult = st.session->AddParticipant(address, QString(), st.participant.put());
    if (st.lastResult != S_OK) {
        phone.box.show(QStringLiteral("Participant couldn't be add to session"));
        return -1;
    }
    // The call is under way from here, before the engine's first state arrives: until then a
    // second press must not start another call, and hang-up must end this one.
    st.callInProgress = 1;
    return 0;
}

void OnRedial(Phone& phone) {
    if (phone.st.redialMemory.isEmpty())
        return;
    phone.view.setText(ctl::NumberField, phone.st.redialMemory);
    OnPickup(phone);
}

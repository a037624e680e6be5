// Placing a call (or answering a ringing one) from the number field, and redialling.
#pragma once

#include <QList>
#include <QString>

struct Phone;

// The number of characters of the number field actually called and kept for redial.
constexpr int kCallNumberLength = 20;
// A number field text of this length or more is refused.
constexpr int kMaxCallTextLength = 128;
constexpr int kDialToneGapMs = 100;

// The digits whose tones are played before dialling: the text read as a signed 64-bit decimal
// (leading blanks and one sign accepted, reading stops at the first non-digit, saturating), and
// of that value the last L digits for a text of L characters, zero-padded in front. Digits of a
// negative value are negative.
QList<int> DialToneDigits(const QString& text);
// Plays each digit's tone (nothing for a negative digit) with 100 ms after every digit.
void PlayDialTones(Phone& phone, const QString& text);
// The first 20 characters, narrowed to one byte each (characters above 255 become '?').
QString CallNumber(const QString& text);
// "sip:" + number + "@" + server, wrapped whatever the number holds.
QString CallAddress(const QString& callNumber, const QString& server);

void OnPickup(Phone& phone);
// Records the attempt as dialled, then asks the engine for a session with the number's address
// as its participant. 0 when the call was started, -1 otherwise.
int CreateCallSession(Phone& phone, const QString& callNumber);
void OnRedial(Phone& phone);

// The dial pad, the keyboard's digit keys and the number entry: which field receives a
// character, the field limits, tones and DTMF, delete and clear.
#pragma once

#include <QChar>
#include <QString>

struct Phone;

struct DialKey {
    int control;      // the dial-pad button
    char character;   // what it appends
    int dtmf;         // the engine's tone number
    const char* tone; // the local tone file
};

// The key of a dial-pad button, or null.
const DialKey* DialKeyForControl(int control);
// The key of a character ('0'..'9', '*', '#'), or null.
const DialKey* DialKeyForChar(QChar c);

// Focused-field index → the field's control (-1 for index 1 and unknown indexes).
int FieldForIndex(int index);
// Control → focused-field index (-1 for a control that is not one of the six fields).
int IndexForField(int control);
// The message shown when the field of `index` is full.
QString LengthMessage(int index);
// A field already longer than this takes no more characters from the dial pad.
constexpr int kDialPadFieldLimit = 127;

void OnFieldFocus(Phone& phone, int control);
void OnDigitButton(Phone& phone, int control);
void AppendDialChar(Phone& phone, QChar c);
// A key pressed in the main window, seen once before it reaches its control. A key producing a
// digit, "*" or "#" (main keyboard or numeric keypad, whatever the layout) moves the focus to
// the number field, sends its DTMF and plays its tone; the character itself is typed by the
// control the key was meant for. Enter places the call when registered and logs in otherwise.
void OnKeyPress(Phone& phone, const QString& keyText, bool enter);
void OnBack(Phone& phone);
void OnClear(Phone& phone);

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

// Virtual key codes the keyboard rule looks at.
namespace vk {
constexpr int Return = 0x0D;
constexpr int End = 0x23;
constexpr int Print = 0x2A;
constexpr int Digit0 = 0x30;
constexpr int Numpad0 = 0x60;
constexpr int Multiply = 0x6A;
} // namespace vk

void OnFieldFocus(Phone& phone, int control);
void OnDigitButton(Phone& phone, int control);
void AppendDialChar(Phone& phone, QChar c);
// The key-down rule applied before the key reaches its control: digit keys send DTMF and play
// their tone, Enter places the call. The key always continues to its control afterwards.
void PreTranslateKeyDown(Phone& phone, int virtualKey);
void OnBack(Phone& phone);
void OnClear(Phone& phone);

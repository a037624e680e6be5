#include "calls/DialPad.h"

#include "calls/Pickup.h"
#include "engine/Registration.h"
#include "phone/ControlIds.h"
#include "phone/Phone.h"

#include <array>

using namespace rtc;

namespace {

constexpr std::array<DialKey, 12> kKeys = {{
    {ctl::One, '1', 1, "Dtmf-1.wav"},
    {ctl::Two, '2', 2, "Dtmf-2.wav"},
    {ctl::Three, '3', 3, "Dtmf-3.wav"},
    {ctl::Four, '4', 4, "Dtmf-4.wav"},
    {ctl::Five, '5', 5, "Dtmf-5.wav"},
    {ctl::Six, '6', 6, "Dtmf-6.wav"},
    {ctl::Seven, '7', 7, "Dtmf-7.wav"},
    {ctl::Eight, '8', 8, "Dtmf-8.wav"},
    {ctl::Nine, '9', 9, "Dtmf-9.wav"},
    {ctl::Star, '*', 10, "Dtmf-star.wav"},
    {ctl::Zero, '0', 0, "Dtmf-0.wav"},
    {ctl::Pound, '#', 11, "Dtmf-pound.wav"},
}};

struct Field {
    int index;
    int control;
    const char* message;
};
constexpr std::array<Field, 6> kFields = {{
    {0, ctl::ServerField, "Sip IP too long."},
    {2, ctl::PasswordField, "Password too long."},
    {3, ctl::UserNameField, "Account ID too long."},
    {4, ctl::NumberField, "Calling Number too long."},
    {5, ctl::AccNumberField, "AccNumber ID too long."},
    {6, ctl::AccPasswordField, "AccPassword ID too long."},
}};

void SendDtmf(Phone& phone, int code) {
    if (phone.st.client)
        phone.st.client->SendDTMF(static_cast<RTC_DTMF>(code));
}

void PlayTone(Phone& phone, const DialKey& key) {
    phone.sound.play(QString::fromLatin1(key.tone));
}

} // namespace

const DialKey* DialKeyForControl(int control) {
    for (const DialKey& k : kKeys)
        if (k.control == control)
            return &k;
    return nullptr;
}

const DialKey* DialKeyForChar(QChar c) {
    for (const DialKey& k : kKeys)
        if (c == QLatin1Char(k.character))
            return &k;
    return nullptr;
}

int FieldForIndex(int index) {
    for (const Field& f : kFields)
        if (f.index == index)
            return f.control;
    return -1;
}

int IndexForField(int control) {
    for (const Field& f : kFields)
        if (f.control == control)
            return f.index;
    return -1;
}

QString LengthMessage(int index) {
    for (const Field& f : kFields)
        if (f.index == index)
            return QString::fromLatin1(f.message);
    return QString();
}

void OnFieldFocus(Phone& phone, int control) {
    const int index = IndexForField(control);
    if (index < 0)
        return;
    phone.st.focusedField = index;
    if (control == ctl::NumberField)
        phone.view.hideCaret(ctl::NumberField);
}

void OnDigitButton(Phone& phone, int control) {
    const DialKey* key = DialKeyForControl(control);
    if (!key)
        return;
    if (!phone.st.callConnected) {
        SendDtmf(phone, key->dtmf);
        PlayTone(phone, *key);
    }
    AppendDialChar(phone, QLatin1Char(key->character));
    phone.view.focus(ctl::NumberField);
    phone.view.caretToEnd(ctl::NumberField);
}

void AppendDialChar(Phone& phone, QChar c) {
    const DialKey* key = DialKeyForChar(c);
    if (!key)
        return;
    IMainView& view = phone.view;
    if (!phone.st.callConnected && !phone.st.callInProgress) {
        const int field = FieldForIndex(phone.st.focusedField);
        if (field < 0)
            return;
        const QString text = view.text(field);
        if (text.size() > kDialPadFieldLimit) {
            phone.box.show(LengthMessage(phone.st.focusedField));
            return;
        }
        view.setText(field, text + c);
        return;
    }
    view.setText(ctl::NumberField, view.text(ctl::NumberField) + c);
    SendDtmf(phone, key->dtmf);
}

void OnKeyPress(Phone& phone, const QString& keyText, bool enter) {
    if (enter) {
        // One Enter, one action: a ringing call is answered whatever the registration says (a
        // refresh may have failed meanwhile); otherwise the call when registered, the login when not.
        if (phone.st.registered == 1 || phone.st.ringing)
            OnPickup(phone);
        else
            LoginCommand(phone);
        return;
    }
    if (keyText.size() != 1)
        return;
    if (const DialKey* key = DialKeyForChar(keyText.at(0))) {
        phone.view.focus(ctl::NumberField);
        SendDtmf(phone, key->dtmf);
        PlayTone(phone, *key);
    }
}

void OnBack(Phone& phone) {
    const int index = phone.st.focusedField;
    if (index != 0 && index != 2 && index != 3 && index != 4)
        return;
    const int field = FieldForIndex(index);
    IMainView& view = phone.view;
    QString text = view.text(field);
    const int p = view.selectionStart(field);
    if (p > 0 && p <= text.size())
        text.remove(p - 1, 1);
    view.setText(field, text);
    if (field == ctl::NumberField) {
        view.focus(ctl::NumberField);
        view.setCaret(ctl::NumberField, p > 0 ? p - 1 : 0);
    }
}

void OnClear(Phone& phone) {
    IMainView& view = phone.view;
    switch (phone.st.focusedField) {
    case 5:
        view.setText(ctl::AccNumberField, QString());
        view.focus(ctl::AccNumberField);
        view.setText(ctl::AccPasswordField, QString());
        view.focus(ctl::AccPasswordField);
        break;
    case 1:
        break;
    default: {
        const int field = FieldForIndex(phone.st.focusedField);
        if (field < 0)
            return;
        view.setText(field, QString());
        view.focus(field);
    }
    }
}

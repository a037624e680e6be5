// The dial pad and the keyboard: which field receives a character, the limits and their
// messages, tones and DTMF per call state, delete and clear.
#include "calls/DialPad.h"
#include "fakes/FakeServices.h"
#include "phone/ControlIds.h"

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

struct Pad {
    TestPhone t;
    Pad() {
        t.startEngine();
        t.client->calls.clear();
    }
    QStringList dtmf() const { return t.client->calls.filter("SendDTMF"); }
};

} // namespace

TEST(DialPad, ButtonsAppendToTheNumberFieldWithToneAndCaretAtTheEnd) {
    Pad p;
    for (int b : {ctl::One, ctl::Two, ctl::Three})
        OnDigitButton(p.t.phone, b);
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "123");
    EXPECT_EQ(p.t.sound.played, (QStringList{"Dtmf-1.wav", "Dtmf-2.wav", "Dtmf-3.wav"}));
    EXPECT_EQ(p.dtmf(), (QStringList{"SendDTMF(1)", "SendDTMF(2)", "SendDTMF(3)"}));
    EXPECT_EQ(p.t.view.focused, ctl::NumberField);
    EXPECT_EQ(p.t.view.selectionStart(ctl::NumberField), 3);
    EXPECT_TRUE(p.t.view.hiddenCarets.contains(ctl::NumberField));
}

TEST(DialPad, EveryButtonHasItsCharacterCodeAndTone) {
    const struct {
        int control;
        char c;
        int code;
        const char* tone;
    } table[] = {{ctl::One, '1', 1, "Dtmf-1.wav"},   {ctl::Two, '2', 2, "Dtmf-2.wav"},
                 {ctl::Three, '3', 3, "Dtmf-3.wav"}, {ctl::Four, '4', 4, "Dtmf-4.wav"},
                 {ctl::Five, '5', 5, "Dtmf-5.wav"},  {ctl::Six, '6', 6, "Dtmf-6.wav"},
                 {ctl::Seven, '7', 7, "Dtmf-7.wav"}, {ctl::Eight, '8', 8, "Dtmf-8.wav"},
                 {ctl::Nine, '9', 9, "Dtmf-9.wav"},  {ctl::Star, '*', 10, "Dtmf-star.wav"},
                 {ctl::Zero, '0', 0, "Dtmf-0.wav"},  {ctl::Pound, '#', 11, "Dtmf-pound.wav"}};
    for (const auto& k : table) {
        Pad p;
        OnDigitButton(p.t.phone, k.control);
        EXPECT_EQ(p.t.view.text(ctl::NumberField), QString(QLatin1Char(k.c)));
        EXPECT_EQ(p.dtmf(), QStringList{QStringLiteral("SendDTMF(%1)").arg(k.code)});
        EXPECT_EQ(p.t.sound.played, QStringList{k.tone});
    }
}

TEST(DialPad, CallStateDecidesToneDtmfCountAndTarget) {
    Pad p;
    p.t.phone.st.focusedField = 3; // a field other than the number field had the focus
    p.t.phone.st.callInProgress = 1;
    OnDigitButton(p.t.phone, ctl::Five);
    EXPECT_EQ(p.dtmf(), (QStringList{"SendDTMF(5)", "SendDTMF(5)"})); // button, then append
    EXPECT_EQ(p.t.sound.played, QStringList{"Dtmf-5.wav"});
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "5");
    EXPECT_EQ(p.t.view.text(ctl::UserNameField), "");

    p.t.client->calls.clear();
    p.t.sound.played.clear();
    p.t.phone.st.callInProgress = 0;
    p.t.phone.st.callConnected = 1;
    p.t.view.texts[ctl::NumberField] = QString(300, '1'); // no limit during a call
    OnDigitButton(p.t.phone, ctl::Pound);
    EXPECT_EQ(p.dtmf(), QStringList{"SendDTMF(11)"});
    EXPECT_TRUE(p.t.sound.played.isEmpty());
    EXPECT_EQ(p.t.view.text(ctl::NumberField), QString(300, '1') + "#");
    EXPECT_TRUE(p.t.box.shown.isEmpty());
}

TEST(DialPad, FocusedFieldReceivesTheFirstPressThenTheNumberField) {
    Pad p;
    p.t.view.focus(ctl::UserNameField); // tabbing into the user name field
    EXPECT_EQ(p.t.phone.st.focusedField, 3);
    OnDigitButton(p.t.phone, ctl::Seven);
    OnDigitButton(p.t.phone, ctl::Eight);
    EXPECT_EQ(p.t.view.text(ctl::UserNameField), "7");
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "8");
    EXPECT_EQ(p.t.phone.st.focusedField, 4);

    const struct {
        int control, index;
    } fields[] = {{ctl::ServerField, 0}, {ctl::PasswordField, 2},  {ctl::UserNameField, 3},
                  {ctl::NumberField, 4}, {ctl::AccNumberField, 5}, {ctl::AccPasswordField, 6}};
    for (const auto& f : fields) {
        p.t.view.focus(f.control);
        EXPECT_EQ(p.t.phone.st.focusedField, f.index);
    }
    p.t.phone.st.focusedField = 1; // no field: nothing is appended
    AppendDialChar(p.t.phone, QLatin1Char('1'));
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "8");
}

TEST(DialPad, FieldsStopAtOneHundredTwentyEightWithTheirOwnMessage) {
    const struct {
        int index, control;
        const char* message;
    } fields[] = {{0, ctl::ServerField, "Sip IP too long."},
                  {2, ctl::PasswordField, "Password too long."},
                  {3, ctl::UserNameField, "Account ID too long."},
                  {4, ctl::NumberField, "Calling Number too long."},
                  {5, ctl::AccNumberField, "AccNumber ID too long."},
                  {6, ctl::AccPasswordField, "AccPassword ID too long."}};
    for (const auto& f : fields) {
        Pad p;
        p.t.phone.st.focusedField = f.index;
        p.t.view.texts[f.control] = QString(127, '1');
        AppendDialChar(p.t.phone, QLatin1Char('2'));
        EXPECT_EQ(p.t.view.text(f.control).size(), 128);
        EXPECT_TRUE(p.t.box.shown.isEmpty());
        AppendDialChar(p.t.phone, QLatin1Char('3'));
        EXPECT_EQ(p.t.view.text(f.control), QString(127, '1') + "2");
        EXPECT_EQ(p.t.box.texts(), QStringList{f.message});
    }
    // Through the button: the tone and DTMF have gone out before the refusal.
    Pad p;
    p.t.view.texts[ctl::NumberField] = QString(128, '1');
    OnDigitButton(p.t.phone, ctl::Nine);
    EXPECT_EQ(p.t.box.texts(), QStringList{"Calling Number too long."});
    EXPECT_EQ(p.t.sound.played, QStringList{"Dtmf-9.wav"});
    EXPECT_EQ(p.dtmf(), QStringList{"SendDTMF(9)"});
}

TEST(Keyboard, KeysTypingDigitsStarOrPoundSendTheirToneWithoutAppending) {
    Pad p;
    p.t.view.focus(ctl::PasswordField);
    OnKeyPress(p.t.phone, "3", false);
    EXPECT_EQ(p.t.view.focused, ctl::NumberField);
    EXPECT_EQ(p.dtmf(), QStringList{"SendDTMF(3)"});
    EXPECT_EQ(p.t.sound.played, QStringList{"Dtmf-3.wav"});
    EXPECT_EQ(p.t.view.text(ctl::NumberField), ""); // the key itself lands in its control

    // Keys go by the character they type: "#" is pound whichever key (Shift+3 on one layout,
    // another key elsewhere) typed it; keys typing nothing of the dial pad do nothing.
    p.t.client->calls.clear();
    p.t.sound.played.clear();
    for (const char* text : {"0", "9", "*", "#", "a", "", "12"})
        OnKeyPress(p.t.phone, QString::fromLatin1(text), false);
    EXPECT_EQ(p.dtmf(), (QStringList{"SendDTMF(0)", "SendDTMF(9)", "SendDTMF(10)", "SendDTMF(11)"}));
    EXPECT_EQ(p.t.sound.played, (QStringList{"Dtmf-0.wav", "Dtmf-9.wav", "Dtmf-star.wav", "Dtmf-pound.wav"}));
}

TEST(Keyboard, EnterPlacesTheCallWhenRegisteredAndLogsInOtherwise) {
    Pad p;
    p.t.registerAccount("srv");
    p.t.view.texts[ctl::NumberField] = "4021";
    OnKeyPress(p.t.phone, "\r", true);
    ASSERT_TRUE(p.t.client->lastSession);
    EXPECT_EQ(p.t.client->lastSession->calls, QStringList{"AddParticipant(sip:4021@srv)"});
    EXPECT_TRUE(p.dtmf().isEmpty());

    Pad q;
    q.t.view.texts[ctl::UserNameField] = "alice";
    q.t.view.texts[ctl::PasswordField] = "pw";
    OnKeyPress(q.t.phone, "\r", true);
    EXPECT_EQ(q.t.client->calls.filter("CreateProfile").size(), 1);
    EXPECT_TRUE(q.t.box.shown.isEmpty()) << q.t.box.texts().join('|').toStdString();
}

TEST(Keyboard, EnterAnswersARingingCallEvenWhenARefreshFailed) {
    Pad p;
    p.t.registerAccount("srv");
    ComPtr<FakeSession> ringing(new FakeSession);
    p.t.deliverSession(RTCSS_INCOMING, ringing.get());
    p.t.phone.st.registered = 0; // the registration was lost while it rang
    OnKeyPress(p.t.phone, "\r", true);
    EXPECT_EQ(ringing->calls, QStringList{"Answer"});
    EXPECT_TRUE(p.t.client->calls.filter("CreateProfile").isEmpty());
}

TEST(BackAndClear, EditTheFocusedField) {
    Pad p;
    p.t.view.setText(ctl::NumberField, "12345");
    p.t.view.setCaret(ctl::NumberField, 0);
    OnBack(p.t.phone);
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "12345");
    EXPECT_EQ(p.t.view.selectionStart(ctl::NumberField), 0);
    p.t.view.setCaret(ctl::NumberField, 3);
    OnBack(p.t.phone);
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "1245");
    EXPECT_EQ(p.t.view.selectionStart(ctl::NumberField), 2);
    p.t.view.caretToEnd(ctl::NumberField);
    OnBack(p.t.phone);
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "124");

    p.t.phone.st.focusedField = 5; // account fields take no delete
    p.t.view.texts[ctl::AccNumberField] = "99";
    OnBack(p.t.phone);
    EXPECT_EQ(p.t.view.text(ctl::AccNumberField), "99");

    p.t.view.focus(ctl::NumberField);
    OnClear(p.t.phone);
    EXPECT_EQ(p.t.view.text(ctl::NumberField), "");
    EXPECT_EQ(p.t.view.focused, ctl::NumberField);

    p.t.view.texts[ctl::AccPasswordField] = "pw";
    p.t.phone.st.focusedField = 5;
    OnClear(p.t.phone);
    EXPECT_EQ(p.t.view.text(ctl::AccNumberField), "");
    EXPECT_EQ(p.t.view.text(ctl::AccPasswordField), "");
    EXPECT_EQ(p.t.view.focused, ctl::AccPasswordField);
}

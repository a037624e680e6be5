// Placing a call: the checks of the call button, the dial tones, the dialled record, the address
// and the redial memory.
#include "calls/Pickup.h"
#include "calls/Session.h"
#include "fakes/FakeServices.h"
#include "mainwindow/MainCommands.h"
#include "phone/ControlIds.h"

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

TEST(DialTones, DigitsOfTheNumberAsTheRuntimeReadsIt) {
    EXPECT_EQ(DialToneDigits("0012345678"), (QList<int>{0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(DialToneDigits("alice"), (QList<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(DialToneDigits("12ab"), (QList<int>{0, 0, 1, 2})); // reading stops at 'a'
    EXPECT_EQ(DialToneDigits("  42"), (QList<int>{0, 0, 4, 2}));
    EXPECT_EQ(DialToneDigits("*21#"), (QList<int>{0, 0, 0, 0}));
    EXPECT_EQ(DialToneDigits("-12"), (QList<int>{0, -1, -2}));
    // Beyond 64 bits the value saturates: the last digits of 9223372036854775807.
    EXPECT_EQ(DialToneDigits("99999999999999999999"),
              (QList<int>{0, 9, 2, 2, 3, 3, 7, 2, 0, 3, 6, 8, 5, 4, 7, 7, 5, 8, 0, 7}));
    EXPECT_EQ(DialToneDigits("-99999999999999999999").last(), -8);
    EXPECT_TRUE(DialToneDigits("").isEmpty());
}

TEST(DialTones, EachDigitPlaysItsToneAndWaitsAHundredMilliseconds) {
    TestPhone t;
    PlayDialTones(t.phone, "0012345678");
    EXPECT_EQ(t.sound.played,
              (QStringList{"Dtmf-0.wav", "Dtmf-0.wav", "Dtmf-1.wav", "Dtmf-2.wav", "Dtmf-3.wav", "Dtmf-4.wav",
                           "Dtmf-5.wav", "Dtmf-6.wav", "Dtmf-7.wav", "Dtmf-8.wav"}));
    EXPECT_EQ(t.clock.sleeps, QList<int>(10, 100));
    t.sound.played.clear();
    t.clock.sleeps.clear();
    PlayDialTones(t.phone, "-12"); // negative digits play nothing but still wait
    EXPECT_EQ(t.sound.played, QStringList{"Dtmf-0.wav"});
    EXPECT_EQ(t.clock.sleeps.size(), 3);
}

TEST(Pickup, PlacesACallToTheServerAndRecordsIt) {
    TestPhone t;
    t.registerAccount("sip.example.net");
    t.view.texts[ctl::NumberField] = "0012345678";
    OnPickup(t.phone);
    EXPECT_TRUE(t.box.shown.isEmpty());
    EXPECT_EQ(t.client->calls.filter("CreateSession").size(), 1);
    EXPECT_TRUE(t.client->calls.contains("CreateSession(0,profile,0)"));
    ASSERT_TRUE(t.client->lastSession);
    EXPECT_EQ(t.client->lastSession->calls, QStringList{"AddParticipant(sip:0012345678@sip.example.net)"});
    EXPECT_EQ(t.phone.st.session.get(), static_cast<IRTCSession*>(t.client->lastSession.get()));
    EXPECT_EQ(t.phone.st.redialMemory, "0012345678");
    EXPECT_EQ(t.sound.played.size(), 10);
    const QStringList dialled = t.history(CallKind::Dialled);
    ASSERT_EQ(dialled.size(), 1);
    // Written after the ten tones, a second later than the call button was pressed.
    EXPECT_EQ(dialled[0], " 0012345678  09:05:08  8/12/2026 ");
    // No status text is written by the command itself.
    EXPECT_FALSE(t.view.texts.contains(ctl::CallStatus));
}

TEST(Pickup, ALongNumberIsRecordedWholeButCalledAndRememberedByItsFirstTwenty) {
    TestPhone t;
    t.registerAccount("sip.example.net");
    const QString number = "1234567890123456789012345";
    t.view.texts[ctl::NumberField] = number;
    OnPickup(t.phone);
    EXPECT_EQ(t.client->lastSession->calls,
              QStringList{"AddParticipant(sip:12345678901234567890@sip.example.net)"});
    EXPECT_EQ(t.phone.st.redialMemory, "12345678901234567890");
    EXPECT_EQ(NumberFromCallRecord(t.history(CallKind::Dialled).value(0)), number);
}

TEST(Pickup, RefusalsAndTheirOrder) {
    TestPhone t;
    t.startEngine();
    t.view.texts[ctl::NumberField] = "4021";
    OnPickup(t.phone);
    EXPECT_EQ(t.box.texts(), QStringList{"You are not registered"});
    EXPECT_TRUE(t.sound.played.isEmpty());

    t.registerAccount();
    t.box.shown.clear();
    t.view.texts[ctl::NumberField] = "";
    OnPickup(t.phone);
    EXPECT_EQ(t.box.texts(), QStringList{"Enter number to call"});
    EXPECT_TRUE(t.sound.played.isEmpty());

    t.box.shown.clear();
    t.view.texts[ctl::NumberField] = QString(128, '5');
    OnPickup(t.phone);
    EXPECT_EQ(t.box.texts(), QStringList{"Sip url too long."});
    // Refused before the tones, which would hold the window 100 ms a character.
    EXPECT_TRUE(t.sound.played.isEmpty());
    EXPECT_TRUE(t.clock.sleeps.isEmpty());
    EXPECT_FALSE(t.client->lastSession);
    EXPECT_TRUE(t.history(CallKind::Dialled).isEmpty());
    EXPECT_TRUE(t.phone.st.redialMemory.isEmpty());

    // 127 characters are still called.
    t.box.shown.clear();
    t.view.texts[ctl::NumberField] = QString(127, '5');
    OnPickup(t.phone);
    EXPECT_TRUE(t.box.shown.isEmpty());
    EXPECT_TRUE(t.client->lastSession);
}

TEST(Pickup, AnswersARingingCallAndDoesNothingDuringAConnectedOne) {
    TestPhone t;
    t.startEngine(); // not registered, and the number field holds text
    ComPtr<FakeSession> incoming(new FakeSession);
    t.phone.st.session = incoming;
    t.phone.st.ringing = 1;
    t.view.texts[ctl::NumberField] = "4021";
    incoming->answerResult = static_cast<HRESULT>(0x80EE0009u);
    OnPickup(t.phone);
    EXPECT_EQ(incoming->calls, QStringList{"Answer"});
    EXPECT_EQ(t.phone.st.lastResult, static_cast<HRESULT>(0x80EE0009u));
    EXPECT_TRUE(t.box.shown.isEmpty());
    EXPECT_TRUE(t.history(CallKind::Dialled).isEmpty());

    t.phone.st.ringing = 0;
    t.phone.st.callConnected = 1;
    t.phone.st.registered = 1;
    OnPickup(t.phone);
    EXPECT_EQ(incoming->calls, QStringList{"Answer"});
    EXPECT_TRUE(t.box.shown.isEmpty());
    EXPECT_TRUE(t.sound.played.isEmpty());
}

TEST(Pickup, ASecondPressWhileTheFirstCallIsUnderWayStartsNothingAndHangupEndsTheFirst) {
    TestPhone t;
    t.registerAccount("srv");
    t.view.texts[ctl::NumberField] = "4021";
    OnPickup(t.phone);
    ComPtr<FakeSession> first = t.client->lastSession;
    ASSERT_TRUE(first);
    // Before the engine's first state arrives, and again once it rings.
    OnPickup(t.phone);
    t.deliverSession(RTCSS_INPROGRESS, first.get());
    OnPickup(t.phone);
    EXPECT_EQ(t.client->lastSession.get(), first.get());
    EXPECT_EQ(t.client->calls.filter("CreateSession").size(), 1);
    EXPECT_EQ(t.history(CallKind::Dialled).size(), 1);
    EXPECT_TRUE(t.box.shown.isEmpty());

    OnHangup(t.phone);
    EXPECT_EQ(first->calls, (QStringList{"AddParticipant(sip:4021@srv)", "Terminate(0)"}));
}

TEST(CreateCallSession, FailuresStillRecordTheAttemptAndSetRedial) {
    {
        TestPhone t;
        t.registerAccount();
        t.client->createSessionResult = E_FAIL;
        t.view.texts[ctl::NumberField] = "4021";
        OnPickup(t.phone);
        EXPECT_EQ(t.box.texts(), QStringList{"New sesion creation failed. :-("});
        EXPECT_EQ(t.history(CallKind::Dialled).size(), 1);
        EXPECT_EQ(t.phone.st.redialMemory, "4021");
        EXPECT_FALSE(t.phone.st.session);
        EXPECT_EQ(t.phone.st.lastResult, E_FAIL);
    }
    {
        TestPhone t;
        t.registerAccount();
        t.client->addParticipantResult = RTC_E_INVALID_SIP_URL;
        t.view.texts[ctl::NumberField] = "4021";
        OnPickup(t.phone);
        EXPECT_EQ(t.box.texts(), QStringList{"Participant couldn't be add to session"});
        EXPECT_TRUE(t.phone.st.session); // stays the current session
        EXPECT_EQ(t.phone.st.redialMemory, "4021");
    }
    { // after a failed engine start: refused, not a crash
        TestPhone t;
        t.phone.st.registered = 1;
        t.view.texts[ctl::NumberField] = "4021";
        OnPickup(t.phone);
        EXPECT_EQ(t.box.texts(), QStringList{"New sesion creation failed. :-("});
    }
}

TEST(CreateCallSession, WrapsWhateverTheNumberHolds) {
    EXPECT_EQ(CallAddress("sip:bob@other", "srv"), "sip:sip:bob@other@srv");
    EXPECT_EQ(CallNumber(QString::fromUtf8("12\u20ac4")), "12?4");
}

TEST(Redial, RepeatsTheLastNumberOrDoesNothing) {
    TestPhone t;
    t.registerAccount("srv");
    OnRedial(t.phone);
    EXPECT_FALSE(t.client->lastSession);
    EXPECT_TRUE(t.box.shown.isEmpty());

    t.client->createSessionResult = E_FAIL; // a failed call is redialled too
    t.view.texts[ctl::NumberField] = "777";
    OnPickup(t.phone);
    t.client->createSessionResult = S_OK;
    t.view.texts[ctl::NumberField] = "something else";
    OnRedial(t.phone);
    EXPECT_EQ(t.view.text(ctl::NumberField), "777");
    EXPECT_EQ(t.client->lastSession->calls, QStringList{"AddParticipant(sip:777@srv)"});
}

TEST(MainCommands, ANumberChosenInThePhoneBookOrCallHistoryIsCalledAtOnce) {
    for (const int command : {ctl::Phone, ctl::Feedback}) {
        TestPhone t;
        t.registerAccount("srv");
        t.view.texts[ctl::NumberField] = "12";
        // Cancelled, or ended without a number: the number field stays as it was.
        EXPECT_TRUE(OnMainCommand(t.phone, command));
        EXPECT_EQ(t.view.text(ctl::NumberField), "12");
        EXPECT_FALSE(t.client->lastSession);

        (command == ctl::Phone ? t.view.phoneBookChoice : t.view.callLogChoice) = "4021";
        OnMainCommand(t.phone, command);
        EXPECT_EQ(t.view.text(ctl::NumberField), "4021");
        EXPECT_EQ(t.view.selectionStart(ctl::NumberField), 4);
        ASSERT_TRUE(t.client->lastSession);
        EXPECT_EQ(t.client->lastSession->calls, QStringList{"AddParticipant(sip:4021@srv)"});
    }
}

TEST(MainCommands, LinksOpenTheirAddressesAndStatusTextsDoNothing) {
    TestPhone t;
    t.startEngine();
    for (int id : {ctl::Rate, ctl::CallHistory, ctl::WebLink, ctl::HelpLink})
        EXPECT_TRUE(OnMainCommand(t.phone, id));
    EXPECT_EQ(t.view.opened,
              (QStringList{kBillingSiteUrl + "/", kBillingSiteUrl, kWebSiteUrl, kUserGuideUrl}));
    for (int id : {ctl::RegStatus, ctl::Balance, ctl::CallStatus, ctl::CallTimer})
        EXPECT_FALSE(OnMainCommand(t.phone, id));
    EXPECT_TRUE(t.box.shown.isEmpty());

    // The login window's OK logs in; its Cancel does not.
    t.view.texts[ctl::UserNameField] = "alice";
    t.view.texts[ctl::PasswordField] = "pw";
    OnMainCommand(t.phone, ctl::Account);
    EXPECT_TRUE(t.client->calls.filter("CreateProfile").isEmpty());
    t.view.accountLoginResult = 1;
    OnMainCommand(t.phone, ctl::Account);
    EXPECT_EQ(t.client->calls.filter("CreateProfile").size(), 1);
}

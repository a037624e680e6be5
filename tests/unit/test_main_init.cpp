// The main window's initialisation: its order, its stops after an engine or sound failure, the
// slider positions taken from the engine and the start-up date and time labels.
#include "fakes/FakeServices.h"
#include "mainwindow/MainInit.h"
#include "phone/ControlIds.h"

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

struct Startup {
    TestPhone t;
    ComPtr<FakeClient> client{new FakeClient};
    ClientFactory factory = [this](IRTCClient** out) {
        t.view.log << QStringLiteral("engine");
        *out = ComPtr<IRTCClient>(client.get()).detach();
        return S_OK;
    };
    bool run() { return RunMainInit(t.phone, t.view, factory, nullptr); }
    int at(const QString& step) const { return static_cast<int>(t.view.log.indexOf(step)); }
};

} // namespace

TEST(Startup, StepsRunInTheirOrder) {
    Startup s;
    s.t.clock.current = QDateTime(QDate(2009, 3, 5), QTime(9, 5, 7));
    s.client->volumes[RTCAD_SPEAKER] = 40000;
    s.client->volumes[RTCAD_MICROPHONE] = 70000;
    EXPECT_TRUE(s.run());

    const QStringList expected = {
        "focus(1000)",
        "setupTooltips",
        "addAboutMenuEntry",
        "setIcons",
        "loadButtonImages",
        "setNumberFieldColours",
        "setNumberFieldFont",
        "setupSliders",
        "engine",
        "setSliderPosition(1043,40000)",
        "setSliderPosition(1042,65535)",
        "setText(1080,)",
        "createLoginWindow",
        "setLabelFonts",
        "setText(1106,5/3/2009)",
        "setText(1107,9:5:7)",
        "runLoginWindow",
        "endDialog(2)",
        "focus(1000)",
        "destroyLoginWindow",
    };
    EXPECT_EQ(s.t.view.log, expected);
    EXPECT_EQ(s.t.phone.st.focusedField, 4);
    // The speaker's volume is read before the microphone's; nothing is written back.
    EXPECT_EQ(s.client->calls.filter("Volume"), (QStringList{"get_Volume(0)", "get_Volume(1)"}));
    EXPECT_EQ(s.t.view.buttonOrder.size(), 28);
    EXPECT_EQ(s.t.view.buttonOrder.front(), ctl::Feedback);
    EXPECT_EQ(s.t.view.buttonOrder.back(), ctl::Clear1);
    EXPECT_FALSE(s.t.view.buttonOrder.contains(ctl::LoginLogoff));
}

TEST(Startup, DateAndTimeLabelsHaveNoLeadingZeros) {
    const QDateTime t(QDate(2009, 3, 5), QTime(9, 5, 7));
    EXPECT_EQ(StartDateText(t), QStringLiteral("5/3/2009"));
    EXPECT_EQ(StartTimeText(t), QStringLiteral("9:5:7"));
    const QDateTime u(QDate(2026, 12, 31), QTime(23, 59, 0));
    EXPECT_EQ(StartDateText(u), QStringLiteral("31/12/2026"));
    EXPECT_EQ(StartTimeText(u), QStringLiteral("23:59:0"));
}

TEST(Startup, LoginWindowOkRunsTheLoginWithWhatItLeftInTheAccountFields) {
    Startup s;
    s.t.view.onLoginWindow = [&] {
        s.t.view.setText(ctl::UserNameField, "alice");
        s.t.view.setText(ctl::PasswordField, "alice-secret");
        s.t.view.setText(ctl::ServerField, "sip.example.net");
        return 1;
    };
    EXPECT_TRUE(s.run());
    EXPECT_TRUE(s.client->calls.contains("CreateProfile"));
    EXPECT_TRUE(s.client->calls.contains("EnableProfile(7)"));
    EXPECT_EQ(s.t.view.ended, 0);
}

TEST(Startup, WithoutSoundDeviceTheWindowRunsButAsksNoLogin) {
    Startup s;
    s.client->soundDevice = false;
    EXPECT_TRUE(s.run());
    EXPECT_EQ(s.t.box.texts(), QStringList{"Please check your sound card driver"});
    EXPECT_EQ(s.at("runLoginWindow"), -1);
    EXPECT_EQ(s.at("setLabelFonts"), -1);
    EXPECT_FALSE(s.t.view.texts.contains(ctl::StartDate));
    EXPECT_NE(s.at("setSliderPosition(1043,65535)"), -1); // the engine did start
    EXPECT_EQ(s.t.view.ended, 0);
}

TEST(Startup, WithoutEngineTheWindowRunsWithoutLoginAndSaysWhy) {
    Startup s;
    s.client->listenResult = E_FAIL;
    EXPECT_FALSE(s.run());
    ASSERT_EQ(s.t.box.shown.size(), 1);
    EXPECT_EQ(s.t.box.shown[0].text, QStringLiteral("InitializeRTCApp() Failed: 0xffffffff"));
    EXPECT_EQ(s.t.box.shown[0].title, QStringLiteral("RTCIn Error"));
    EXPECT_FALSE(s.t.phone.st.client);
    EXPECT_EQ(s.at("runLoginWindow"), -1);
    EXPECT_EQ(s.at("setSliderPosition(1043,65535)"), -1);
    EXPECT_EQ(s.t.view.log.count("focus(1000)"), 1); // the window did not set the final focus
}

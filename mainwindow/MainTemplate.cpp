#include "mainwindow/MainTemplate.h"

#include "phone/ControlIds.h"

namespace {
using K = ControlKind;
constexpr FontSpec kNone{};
constexpr FontSpec kArialBlack{"ArialBlack", 16, 6};
constexpr FontSpec kVerdana13{"Verdana", 13, 7};
constexpr FontSpec kVerdana12{"Verdana", 12, 5};
} // namespace

const ControlTable& MainTemplate() {
    // CallHistory and Phone also name classes, so those two entries stay qualified.
    using namespace ctl;
    static const ControlTable table = {
        {NumberField, K::Edit, "", true, 25, 93, 86, 12, nullptr, kArialBlack, cs::Centred, "Phone number"},
        {Pickup, K::BitmapButton, "cmdPickup", true, 24, 128, 21, 17, "Click to Make Call", kNone},
        {PasswordField, K::Edit, "", true, 530, 86, 80, 12, nullptr, kNone, cs::Password, "Password"},
        {UserNameField, K::Edit, "", true, 519, 6, 80, 12, nullptr, kNone, 0, "User name"},
        {ServerField, K::Edit, "", false, 509, 23, 89, 12, nullptr, kNone, 0, "Server"},
        {LogOff, K::BitmapButton, "cmdLogOff", false, 477, 148, 35, 12, nullptr, kNone},
        {ctl::CallHistory, K::BitmapButton, "cmdCallHistory", true, 113, 229, 26, 13,
         "Click for Call History", kNone},
        {Rate, K::BitmapButton, "cmdRate", true, 113, 156, 26, 13, "Click for Rate", kNone},
        {Audio, K::BitmapButton, "cmdAudio", true, 113, 211, 26, 13, "Click for Audio Wizard", kNone},
        {Redial, K::BitmapButton, "cmdRedial", true, 90, 108, 13, 11, "Click for Redial Number", kNone},
        {Five, K::BitmapButton, "cmdFive", true, 54, 178, 23, 14, "Five", kNone},
        {Three, K::BitmapButton, "cmdThree", true, 83, 155, 23, 14, "Three", kNone},
        {Four, K::BitmapButton, "cmdFour", true, 24, 178, 23, 14, "Four", kNone},
        {Clear, K::BitmapButton, "cmdClear", true, 545, 170, 13, 11, nullptr, kNone},
        {One, K::BitmapButton, "cmdOne", true, 24, 155, 23, 14, "One", kNone},
        {Eight, K::BitmapButton, "cmdEight", true, 54, 201, 23, 14, "Eight", kNone},
        {Six, K::BitmapButton, "cmdSix", true, 83, 178, 23, 14, "Six", kNone},
        {Nine, K::BitmapButton, "cmdNine", true, 83, 201, 23, 14, "Nine", kNone},
        {Seven, K::BitmapButton, "cmdSeven", true, 24, 201, 23, 14, "Seven", kNone},
        {Star, K::BitmapButton, "cmdStar", true, 24, 225, 23, 14, "Star", kNone},
        {Zero, K::BitmapButton, "cmdZero", true, 54, 225, 23, 14, "Zero", kNone},
        {Pound, K::BitmapButton, "cmdPound", true, 83, 225, 23, 14, "Hash", kNone},
        {Hangup, K::BitmapButton, "cmdHangup", true, 67, 128, 21, 17, "Click to End Call", kNone},
        {Register, K::BitmapButton, "cmdRegister", false, 521, 151, 35, 12, nullptr, kNone},
        {Two, K::BitmapButton, "cmdTwo", true, 54, 155, 23, 14, "Two", kNone},
        {Back, K::BitmapButton, "cmdBack", true, 136, 108, 13, 11, "Clear Current Number One by One", kNone},
        {LoginLogoff, K::BitmapButton, "cmdLoginLogoff", false, 480, 50, 80, 14, nullptr, kNone},
        {RegStatus, K::Label, "Not Registered", true, 23, 47, 84, 8, nullptr, kVerdana13},
        {Balance, K::Label, "", true, 23, 58, 84, 8, nullptr, kVerdana12},
        {CallStatus, K::Label, "", true, 23, 69, 84, 8, nullptr, kVerdana13},
        {CallTimer, K::Label, "", true, 24, 81, 49, 8, nullptr, kVerdana12},
        {SipIpLabel, K::Label, "SipIp/Domain", false, 505, 103, 40, 8, nullptr, kNone},
        {UsernameLabel, K::Label, "Username", true, 510, 66, 31, 8, nullptr, kNone},
        {PasswordLabel, K::Label, "Password", true, 505, 76, 34, 8, nullptr, kNone},
        {PhoneNoLabel, K::Label, "PhoneNo", true, 344, 76, 102, 10, nullptr, kVerdana13},
        {LogOffPlain, K::PlainButton, "cmdLogOff", false, 567, 74, 34, 15, nullptr, kNone},
        {LoginLogoffPlain, K::PlainButton, "cmdLoginLogoff", false, 573, 58, 74, 14, nullptr, kNone},
        {ctl::Phone, K::BitmapButton, "cmdPhone", true, 113, 175, 26, 13, "Open Softphone Book", kNone},
        {Account, K::BitmapButton, "cmdAccount", true, 33, 109, 13, 11, "Open for Relogin Server", kNone},
        {SpeakerLevel, K::LevelBar, "", false, 616, 102, 6, 62, nullptr, kNone, 0, "Speaker level"},
        {MicLevel, K::LevelBar, "", false, 626, 100, 6, 62, nullptr, kNone, 0, "Microphone level"},
        {MicSlider, K::Slider, "SliderMicrophone", true, 24, 251, 13, 8, "Mic", kNone},
        {SpeakerSlider, K::Slider, "sliderSpeaker", true, 24, 264, 13, 8, "Speaker", kNone},
        {PlainStatic, K::PlainStatic, "", true, 247, 51, 49, 8, nullptr, kNone},
        {Minimize, K::BitmapButton, "cmdMinimize", true, 150, 15, 10, 7, "Hide Application to System Tray",
         kNone},
        {Cross, K::BitmapButton, "cmdCross", true, 163, 14, 14, 8, "Close and Exit Application", kNone},
        {AccNumberField, K::Edit, "", true, 482, 114, 80, 12, nullptr, kNone, 0, "Account number"},
        {AccPasswordField, K::Edit, "", true, 483, 128, 80, 12, nullptr, kNone, cs::Password,
         "Account password"},
        {AccNumberLabel, K::Label, "Acc. Number", true, 540, 116, 41, 8, nullptr, kNone},
        {AccPasswordLabel, K::Label, "Acc. Password", true, 537, 127, 47, 8, nullptr, kNone},
        {LoggedInUser, K::Label, "User", true, 539, 68, 76, 9, nullptr, kVerdana12},
        {WebLink, K::Label, "", true, 9, 14, 105, 13, "Click for Orvane Softphone URL", kNone, cs::Notify},
        {HelpLink, K::Label, "", true, 406, 16, 12, 8, "Click for Open Help File", kNone, cs::Notify},
        {Feedback, K::BitmapButton, "feedback", true, 113, 193, 26, 13, "Click for Recent Call", kNone},
        {Clear1Plain, K::BitmapButton, "clear1", true, 364, 94, 40, 16, nullptr, kNone},
        {Clear1, K::BitmapButton, "cmd_clear1", true, 113, 108, 13, 11, "Clear Current Number", kNone},
        {DatePicker, K::DatePicker, "", true, 376, 187, 100, 15, nullptr, kNone, 0, "Date"},
        {StartDate, K::Label, "", true, 361, 53, 51, 9, nullptr, kVerdana12},
        {StartTime, K::Label, "", true, 249, 46, 51, 8, nullptr, kVerdana12},
    };
    return table;
}

const ControlDef* FindControl(int id) {
    return FindControl(MainTemplate(), id);
}

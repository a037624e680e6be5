// Control identifiers of the main window; other code names controls by these numbers.
#pragma once

namespace ctl {
constexpr int NumberField = 1000;
constexpr int Pickup = 1001;
constexpr int PasswordField = 1002;
constexpr int UserNameField = 1004;
constexpr int ServerField = 1005;
constexpr int LogOff = 1006;
constexpr int CallHistory = 1007;
constexpr int Rate = 1008;
constexpr int Audio = 1009;
constexpr int Redial = 1010;
constexpr int Five = 1011;
constexpr int Three = 1012;
constexpr int Four = 1013;
constexpr int Clear = 1014;
constexpr int One = 1015;
constexpr int Eight = 1016;
constexpr int Six = 1017;
constexpr int Nine = 1018;
constexpr int Seven = 1019;
constexpr int Star = 1020;
constexpr int Zero = 1021;
constexpr int Pound = 1022;
constexpr int Hangup = 1023;
constexpr int Register = 1024;
constexpr int Two = 1025;
constexpr int Back = 1026;
constexpr int LoginLogoff = 1027;
constexpr int RegStatus = 1028;
constexpr int Balance = 1029;
constexpr int CallStatus = 1030;
constexpr int CallTimer = 1031;
constexpr int SipIpLabel = 1032;
constexpr int UsernameLabel = 1033;
constexpr int PasswordLabel = 1034;
constexpr int PhoneNoLabel = 1035;
constexpr int LogOffPlain = 1036;
constexpr int LoginLogoffPlain = 1037;
constexpr int Phone = 1038;
constexpr int Account = 1039;
constexpr int SpeakerLevel = 1040;
constexpr int MicLevel = 1041;
constexpr int MicSlider = 1042;
constexpr int SpeakerSlider = 1043;
constexpr int PlainStatic = 1044;
constexpr int Minimize = 1049;
constexpr int Cross = 1050;
constexpr int AccNumberField = 1051;
constexpr int AccPasswordField = 1052;
constexpr int AccNumberLabel = 1053;
constexpr int AccPasswordLabel = 1054;
constexpr int LoggedInUser = 1079;
constexpr int WebLink = 1080;
constexpr int HelpLink = 1083;
constexpr int Feedback = 1085;
constexpr int Clear1Plain = 1096;
constexpr int Clear1 = 1097;
constexpr int DatePicker = 1105;
constexpr int StartDate = 1106;
constexpr int StartTime = 1107;
} // namespace ctl

// Window timers of the main window.
namespace timer {
constexpr int Flash = 3004;     // every 500 ms while an incoming call rings
constexpr int Ringback = 30006; // every 3000 ms while an outgoing call is in progress
constexpr int CallDuration = 3; // every 1000 ms while connected
constexpr int PostDial = 3007;  // the digits of a link, once its call is connected
constexpr int LinkWait = 3008;  // a link's call not yet placed is dropped when it fires
} // namespace timer

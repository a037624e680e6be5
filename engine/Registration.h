// Logging in (provisioning a profile with the engine, which then registers with the SIP server),
// logging off, and how registration states show in the main window.
#pragma once

#include "rtc/Rtc.h"

#include <QString>

struct Phone;

// Length limits of the account fields, in UTF-16 code units.
constexpr int kMaxPasswordLength = 127;
constexpr int kMaxUserNameLength = 128;
constexpr int kMaxServerLength = 128;
// The part of the server address and user name kept for calls.
constexpr int kKeptAccountLength = 64;

// The profile key, the same in every profile.
inline const QString kProfileKey = QStringLiteral("3f6c1a2e-9b47-4d05-8e21-c7a90b4d6e13");

// Escapes &, <, >, ", ' and the tab and line breaks (which an attribute would turn into blanks)
// so that an XML parser gives back exactly `value`.
QString XmlEscape(const QString& value);
// The provisioning profile for a user name, password and server address (host[:port]).
QString BuildProfileXml(const QString& user, const QString& password, const QString& server);

// The login command (also run by the login window's OK, command 1024 and Enter while not
// registered).
void LoginCommand(Phone& phone);
// Ends any call, then disables the held profile.
void LogOffRoutine(Phone& phone);
// Command 1027: log in when not registered, else log off.
void OnLoginLogoffCommand(Phone& phone);
// Command 1006: log off when registered.
void OnLogOffCommand(Phone& phone);

void OnRegistrationStateChange(Phone& phone, rtc::IRTCRegistrationStateChangeEvent* event);

// How the main window follows a call: the session states, hanging up, and the window timers
// (ringback, flashing, call duration).
#pragma once

#include "rtc/Rtc.h"

#include <QString>

struct Phone;

constexpr int kFlashPeriodMs = 500;
constexpr int kRingbackPeriodMs = 3000;
constexpr int kCallDurationPeriodMs = 1000;

// The part of an address between its first ':' and its first '@' ("sip:alice@host" → "alice");
// with no ':' everything before the '@'; with no '@' nothing.
QString CallerFromUri(const QString& uri);
// "%02d:%02d:%02d" of hours, minutes and seconds.
QString DurationText(int seconds);

void OnSessionStateChange(Phone& phone, rtc::IRTCSessionStateChangeEvent* event);
// Ends a connected call or one in progress; rejects (busy) a ringing one.
void OnHangup(Phone& phone);
// The main window's timer handler; false for a timer that is not the phone's.
bool OnTimer(Phone& phone, int timerId);

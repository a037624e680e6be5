// Starting the engine and delivering its events to the handlers of the main window.
#pragma once

#include "rtc/ComPtr.h"

#include <QString>

#include <functional>

struct Phone;
class QObject;

// Creates the engine client with one reference (the program's: the liblinphone client; tests: a
// scripted fake).
using ClientFactory = std::function<rtc::HRESULT(rtc::IRTCClient** out)>;

inline const QString kRtcErrorTitle = QStringLiteral("RTCIn Error");

// printf-style formatting of a message with at most 511 characters; "%x" of a negative result
// shows its 32-bit pattern (-1 is ffffffff).
QString FormatErrorText(const char* pattern, rtc::HRESULT hr);

// Creates and initialises the client, sets the event filter and the listen mode, and registers
// the event sink, which posts to `target`. Returns 0 or more on success, the failing result (or
// -1) otherwise, after showing the message the failing step calls for.
rtc::HRESULT InitializeRTCApp(Phone& phone, const ClientFactory& factory, QObject* target);

// The engine-event message's handler: dispatches by type and releases the event last.
void DispatchEngineEvent(Phone& phone, int eventType, rtc::ComPtr<rtc::IUnknown> event);

// The audio-level handler feeding the level bars 1040 (speaker) and 1041 (microphone).
void OnIntensityEvent(Phone& phone, rtc::IRTCIntensityEvent* event);

// The range a progress bar takes from one 32-bit value: minimum in the low 16 bits, maximum in
// the high 16 bits.
struct LevelRange {
    int min;
    int max;
};
LevelRange LevelRangeFromEvent(long min, long max);

// The engine client over liblinphone.
#pragma once

#include "rtc/Rtc.h"

#include <QString>

struct EngineOptions {
    QString dataDir;  // the engine's own config and data folder (created when missing)
    QString soundDir; // where the tuning wizard's test sound is found
    int sipPort = -1; // UDP port to listen on; -1 picks a free one
};

// Starts the engine's slowest one-time set-up (the SRTP library's self-tests, about 15 ms) on a
// thread of its own, so that it runs while the program builds its window; the first client
// waits for it before it starts its core. Calling it is optional, and once is enough.
void PrepareLinphoneClient();

// Creates the client with one reference in *out.
rtc::HRESULT CreateLinphoneClient(const EngineOptions& options, rtc::IRTCClient** out);

// The engine client over liblinphone.
#pragma once

#include "engine/Rtc.h"

#include <QString>

struct EngineOptions {
    QString dataDir;  // the engine's own config and data folder (created when missing)
    QString soundDir; // where the tuning wizard's test sound is found
    int sipPort = -1; // UDP port to listen on; -1 picks a free one
};

// Creates the client with one reference in *out.
rtc::HRESULT CreateLinphoneClient(const EngineOptions& options, rtc::IRTCClient** out);

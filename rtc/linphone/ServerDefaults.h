// The sound server's default playback and recording devices, as the user chose them in the
// desktop's sound settings. liblinphone's PulseAudio driver lists the server's devices in the
// server's own order and calls go to the first one, which on a desktop with several outputs
// (speakers, HDMI, a headset) is often not the one the user picked: the engine asks the server.
#pragma once

#include <string>

namespace serverdefaults {

struct Devices {
    std::string sink;   // description of the default sink, empty when unknown
    std::string source; // description of the default source; empty when unknown or a monitor
};

// Asks the server the program reaches (PULSE_SERVER, else the user's own) within `timeoutMs`.
// Never waits longer: a server that does not answer yields empty names.
Devices query(int timeoutMs);

} // namespace serverdefaults

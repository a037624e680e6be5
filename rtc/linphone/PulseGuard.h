// liblinphone's PulseAudio driver (in mediastreamer) drops its last reference on a sound stream
// without holding the lock of the PulseAudio main loop it shares with that loop's thread. When a
// record stream goes, the sound server's shared-memory blocks it still holds are handed back
// through the connection's send queue, which the loop's thread may be using at that moment: the
// queue is corrupted and the program aborts in libpulse, at the end of a call or later.
//
// The program defines pa_stream_unref itself (the dynamic linker takes the program's symbol
// before libpulse's; the link exports it), and the driver's calls take the lock first. Other
// callers pass straight through.
#pragma once

namespace pulseguard {

// True when the dynamic linker hands out the guarded pa_stream_unref, so the driver's calls
// reach it. False when the program was linked without exporting it.
bool active();

// Whether the call that returns to `returnAddress` came from the driver (mediastreamer).
bool fromDriver(const void* returnAddress);

// How many of the driver's calls were made off the loop's thread and so were done under the
// loop's lock.
long long guardedUnrefs();

} // namespace pulseguard

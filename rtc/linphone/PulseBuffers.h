// The buffers liblinphone's PulseAudio driver (in mediastreamer) asks of the sound server. The
// driver asks 20 ms each way, too little for a machine doing other work; libpulse's own
// override ($PULSE_LATENCY_MSEC) sets one size for both directions, and a large capture
// fragment costs latency on servers that hand the microphone over a whole fragment at a time
// (PipeWire's PulseAudio server does; PulseAudio passes on what it has).
//
// The program defines pa_stream_connect_playback and pa_stream_connect_record itself (the
// dynamic linker takes the program's symbols before libpulse's; the link exports them) and
// sets the driver's sizes before passing the call on. Other callers pass straight through, and
// a user's $PULSE_LATENCY_MSEC still wins: libpulse applies it inside the call.
#pragma once

namespace pulsebuffers {

// What the driver's streams ask for, in milliseconds.
inline constexpr unsigned kPlaybackMs = 40;
inline constexpr unsigned kCaptureFragmentMs = 10;

// True when the dynamic linker hands out these definitions, so the driver's calls reach them.
bool active();

} // namespace pulsebuffers

// A steady clock for the audio graph's ticker.
//
// mediastreamer keeps a call's ticker on the sound card's clock: its time is the wall clock less
// the microphone's skew against it, a running average, cut to whole ticks. Once that average
// drifts up to a tick's boundary its wobble crosses it back and forth, and at each crossing the
// ticker moved by a whole tick: two ticks at once, then a 20 ms wait, up to 25 times in a second.
// The speaker is written on each tick and holds 16-24 ms at the sound server, so it ran dry
// (PulseAudio's clean-line underflows). TickerClock moves the ticker's correction by a tick only
// once the skew is most of a tick past it, so a wobble of a few milliseconds cannot undo a move.
#pragma once

#include <cstdint>

struct _MSTicker;
struct _MSTickerSynchronizer;

namespace rtc::lin {

// The correction to apply (ms, whole ticks) for `skewMs`, given the one applied so far: it moves
// by a tick each time the skew is 80 % of a tick or more past it.
int64_t steadyCorrection(int64_t appliedMs, double skewMs, int tickMs);

class TickerClock {
public:
    TickerClock() = default;
    TickerClock(const TickerClock&) = delete;
    TickerClock& operator=(const TickerClock&) = delete;

    // Called from the ticker's own thread on each tick: when the ticker runs on a sound card's
    // synchroniser, runs it on the steady clock over the same synchroniser instead.
    void keepSteady(_MSTicker* ticker);
    // Gives the ticker back its synchroniser's own clock, if it still runs on this one. Must be
    // called before this is destroyed (the owner's postprocess), while the ticker still exists.
    void release(_MSTicker* ticker);

    static uint64_t now(void* self);

private:
    _MSTickerSynchronizer* sync_ = nullptr;
    int64_t appliedMs_ = 0;
    int tickMs_ = 10;
};

} // namespace rtc::lin

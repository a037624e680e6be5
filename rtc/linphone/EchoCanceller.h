// The echo canceller of calls: speex's adaptive filter takes the speaker's sound out of what the
// microphone hears, then speex's preprocessor takes out the noise and, once the filter has shown
// that there is an echo, what is left of it.
//
// mediastreamer's own canceller runs everything from the start and for everyone. Where there is
// no echo to take out (a headset), that costs the user's voice twice: the preprocessor's
// residual-echo suppression, when the far end's sound follows the user's in time (a far end
// that plays back what it heard, or answers at once), takes it for a leak and cuts the first
// 40 ms of each word by up to 23 dB; and the filter's input stage shifts the phase of the low
// tones. So here the filter runs from the start, but what it does is judged while the far end
// talks: once it has taken 6 dB or more out of the microphone (after a second of the far end's
// talk, averaged over half a second), there is an echo, and from then on the call is cancelled
// and its residue suppressed as in mediastreamer's; while it takes out less than 2 dB, or the
// microphone hears nothing of the far end, there is none, and the microphone is passed on as it
// is (denoised) until an echo is found. The speaker's sound is passed on as in mediastreamer's:
// one frame for each frame of the microphone's, silence while there is none; what then waited
// through 2 s without being needed is given back in the far end's pauses.
#pragma once

#include <cstdint>

struct _MSFactory;
struct SpeexEchoState_;
struct SpeexPreprocessState_;

namespace rtc::lin {

// One call's canceller, frame by frame (tested on its own).
class EchoCanceller {
public:
    // `frameSize` samples a frame at `sampleRate`; the filter reaches `filterLength` samples back.
    EchoCanceller(int frameSize, int sampleRate, int filterLength);
    ~EchoCanceller();
    EchoCanceller(const EchoCanceller&) = delete;
    EchoCanceller& operator=(const EchoCanceller&) = delete;

    // One frame of the microphone and of what the speaker played meanwhile; `out` (a frame) gets
    // the microphone without the echo.
    void process(const int16_t* mic, const int16_t* played, int16_t* out);

    // What the filter has shown so far: nothing yet (its output is passed on), an echo (for the
    // rest of the call: its output, with the residue suppressed), or no echo (the microphone is
    // passed on as it is).
    enum class Echo { Unknown, Found, None };
    Echo echo() const { return echo_; }

private:
    int frameSize_;
    SpeexEchoState_* echoState_;
    SpeexPreprocessState_* pre_;
    Echo echo_ = Echo::Unknown;
    // Mean energies of the microphone and of the filter's output over the frames with the far
    // end heard, and how many such frames there were.
    double micEnergy_ = 0;
    double outEnergy_ = 0;
    long farFrames_ = 0;
    double smoothing_;
    long framesToDecide_;
};

// Registers the canceller with the factory; calls use it once the core is given its name.
inline constexpr char kEchoCancellerName[] = "OrvaneEC";
void registerEchoCanceller(_MSFactory* factory);

} // namespace rtc::lin

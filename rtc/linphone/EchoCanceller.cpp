#include "rtc/linphone/EchoCanceller.h"
#include "rtc/linphone/TickerClock.h"

#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/msinterfaces.h>
#include <mediastreamer2/msqueue.h>
#include <mediastreamer2/msticker.h>
#include <speex/speex_echo.h>
#include <speex/speex_preprocess.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace rtc::lin {

namespace {

constexpr double kFullScale = 32768.0;
// The far end is heard above -45 dBFS; a microphone below -60 dBFS hears nothing of it.
const double kFarHeard = std::pow(kFullScale * std::pow(10.0, -45.0 / 20.0), 2);
const double kQuiet = std::pow(kFullScale * std::pow(10.0, -60.0 / 20.0), 2);
constexpr double kEchoFound = 4.0; // 6 dB taken out
constexpr double kNoEcho = 1.6;    // less than 2 dB
constexpr double kAveragedMs = 500;
constexpr double kDecideAfterMs = 1000;

double energy(const int16_t* x, int n) {
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += double(x[i]) * x[i];
    return sum / n;
}

} // namespace

EchoCanceller::EchoCanceller(int frameSize, int sampleRate, int filterLength)
    : frameSize_(frameSize), echoState_(speex_echo_state_init(frameSize, filterLength)),
      pre_(speex_preprocess_state_init(frameSize, sampleRate)) {
    speex_echo_ctl(echoState_, SPEEX_ECHO_SET_SAMPLING_RATE, &sampleRate);
    const double frameMs = 1000.0 * frameSize / sampleRate;
    smoothing_ = std::min(1.0, frameMs / kAveragedMs);
    framesToDecide_ = std::lround(kDecideAfterMs / frameMs);
}

EchoCanceller::~EchoCanceller() {
    speex_preprocess_state_destroy(pre_);
    speex_echo_state_destroy(echoState_);
}

void EchoCanceller::process(const int16_t* mic, const int16_t* played, int16_t* out) {
    const Echo before = echo_;
    speex_echo_cancellation(echoState_, mic, played, out);
    if (energy(played, frameSize_) > kFarHeard) {
        // How much the filter takes out of what the microphone hears while the far end talks.
        // A quiet microphone counts as nothing taken out: it hears no echo.
        micEnergy_ += smoothing_ * (energy(mic, frameSize_) - micEnergy_);
        outEnergy_ += smoothing_ * (energy(out, frameSize_) - outEnergy_);
        ++farFrames_;
        const double taken = (micEnergy_ + kQuiet) / (outEnergy_ + kQuiet);
        if (farFrames_ >= framesToDecide_ && echo_ != Echo::Found) {
            if (taken > kEchoFound) {
                echo_ = Echo::Found;
                speex_preprocess_ctl(pre_, SPEEX_PREPROCESS_SET_ECHO_STATE, echoState_);
            } else if (taken < kNoEcho) {
                echo_ = Echo::None;
            }
        }
    }
    const bool wasThrough = before == Echo::None;
    const bool through = echo_ == Echo::None;
    if (through || wasThrough) {
        // The microphone as it is, or a frame's fade into or out of it (the filter's input
        // stage shifts the phase of low tones: the two differ).
        for (int i = 0; i < frameSize_; ++i) {
            const double w = through == wasThrough ? 1.0 : double(i + 1) / frameSize_;
            const double to = through ? mic[i] : out[i];
            const double from = wasThrough ? mic[i] : out[i];
            out[i] = int16_t(std::lround(from + w * (to - from)));
        }
    }
    speex_preprocess_run(pre_, out);
}

namespace {

// The filter: inputs[0] the far end's sound on its way to the speaker, inputs[1] the microphone;
// outputs[0] the far end's sound for the speaker, outputs[1] the microphone without the echo.
struct FilterState {
    int sampleRate = 8000;
    int frameSizeAt8000 = 64;
    int tailMs = 250;
    int delayMs = 0;
    bool bypass = false;
    bool speaking = false;   // the speaker is being fed
    int steadyTicks = 0;     // ticks in a row that brought the microphone's sound
    uint64_t firstMicMs = 0; // the ticker's time of the microphone's first sound (0: none yet)
    bool usingSilence = false;
    size_t leastBacklog = SIZE_MAX;  // bytes, since backlogSince
    uint64_t backlogSince = 0;       // the ticker's time
    uint64_t standingSince = 0;      // the ticker's time since when the backlog held a frame
    size_t leastStanding = SIZE_MAX; // bytes, since standingSince
    size_t toGiveBack = 0;           // bytes of the backlog to drop in the far end's pauses
    size_t nominalDelayed = 0;       // bytes
    MSBufferizer delayed;            // what the speaker was given, for the filter
    MSBufferizer toSpeaker;          // the far end's sound not yet passed on
    MSBufferizer mic;
    std::unique_ptr<EchoCanceller> canceller;
    TickerClock clock; // the speaker is written on each tick: keep them steady
    std::vector<int16_t> micFrame, playedFrame;
};

FilterState* stateOf(MSFilter* f) {
    return static_cast<FilterState*>(f->data);
}

// Milliseconds of sound in `bytes` of the filter's samples.
int msOf(const FilterState* s, size_t bytes) {
    return int(bytes / sizeof(int16_t) * 1000 / size_t(s->sampleRate));
}

void filterInit(MSFilter* f) {
    auto* s = new FilterState;
    ms_bufferizer_init(&s->delayed);
    ms_bufferizer_init(&s->toSpeaker);
    ms_bufferizer_init(&s->mic);
    f->data = s;
}

void filterUninit(MSFilter* f) {
    FilterState* s = stateOf(f);
    ms_bufferizer_uninit(&s->delayed);
    ms_bufferizer_uninit(&s->toSpeaker);
    ms_bufferizer_uninit(&s->mic);
    delete s;
}

// A power of two, as speex's filter works best with.
int frameSizeFor(int frameSizeAt8000, int sampleRate) {
    const int wanted = frameSizeAt8000 * sampleRate / 8000;
    int n = 1;
    while (n * 2 <= wanted)
        n *= 2;
    return n;
}

void filterPreprocess(MSFilter* f) {
    FilterState* s = stateOf(f);
    const int frameSize = frameSizeFor(s->frameSizeAt8000, s->sampleRate);
    const int filterLength = s->tailMs * s->sampleRate / 1000;
    s->canceller = std::make_unique<EchoCanceller>(frameSize, s->sampleRate, filterLength);
    s->micFrame.assign(frameSize, 0);
    s->playedFrame.assign(frameSize, 0);
    s->speaking = false;
    s->steadyTicks = 0;
    s->firstMicMs = 0;
    s->usingSilence = false;
    s->leastBacklog = SIZE_MAX;
    s->backlogSince = 0;
    s->standingSince = 0;
    s->leastStanding = SIZE_MAX;
    s->toGiveBack = 0;
    const size_t delaySamples = size_t(s->delayMs) * s->sampleRate / 1000;
    s->nominalDelayed = delaySamples * 2;
    if (delaySamples > 0) {
        mblk_t* m = allocb(s->nominalDelayed, 0);
        std::fill_n(m->b_wptr, s->nominalDelayed, 0);
        m->b_wptr += s->nominalDelayed;
        ms_bufferizer_put(&s->delayed, m);
    }
    ms_message("echo canceller: frames of %d samples, filter of %d, delay of %zu", frameSize, filterLength,
               delaySamples);
}

mblk_t* copyOf(const uint8_t* data, size_t bytes) {
    mblk_t* m = allocb(bytes, 0);
    std::copy_n(data, bytes, m->b_wptr);
    m->b_wptr += bytes;
    return m;
}

// The speaker is fed one frame for each of the microphone's, so its buffer at the sound server
// holds what it held when feeding began. A sound server starts its streams with the microphone's
// sound in bursts, and PipeWire starts playing with whatever it was first given: fed from the
// first burst, the speaker underflowed at each call's start. So the speaker waits until the
// microphone has come in each of five ticks in a row (or for 200 ms at most, for a server that
// hands it over in large fragments), then starts with 20 ms of silence, what PulseAudio itself
// waits for before it plays.
void startSpeaking(MSFilter* f, FilterState* s) {
    constexpr int kSteadyTicks = 5;
    constexpr uint64_t kLongestWaitMs = 200;
    constexpr int kCushionMs = 20;
    const bool micCame = f->inputs[1] && !ms_queue_empty(f->inputs[1]);
    if (micCame && s->firstMicMs == 0)
        s->firstMicMs = std::max<uint64_t>(f->ticker->time, 1);
    s->steadyTicks = micCame ? s->steadyTicks + 1 : 0;
    if (s->firstMicMs == 0 ||
        (s->steadyTicks < kSteadyTicks && f->ticker->time < s->firstMicMs + kLongestWaitMs))
        return;
    s->speaking = true;
    const size_t cushion = size_t(kCushionMs) * s->sampleRate / 1000 * sizeof(int16_t);
    mblk_t* m = allocb(cushion, 0);
    std::fill_n(m->b_wptr, cushion, 0);
    m->b_wptr += cushion;
    ms_queue_put(f->outputs[0], m);
    ms_message("echo canceller: the speaker starts, %d ms after the microphone's first sound",
               int(f->ticker->time - s->firstMicMs));
}

// What waits here for the speaker is delay the caller hears, on top of the jitter buffer's and the
// sound server's. Its least over each 5 s goes to the log, beside their own 5 s reports.
void reportBacklog(MSFilter* f, FilterState* s) {
    s->leastBacklog = std::min(s->leastBacklog, ms_bufferizer_get_avail(&s->toSpeaker));
    if (s->backlogSince == 0)
        s->backlogSince = std::max<uint64_t>(f->ticker->time, 1);
    if (f->ticker->time < s->backlogSince + 5000)
        return;
    ms_message("echo canceller: at least %d ms waited for the speaker over the last 5 s",
               msOf(s, s->leastBacklog));
    s->leastBacklog = SIZE_MAX;
    s->backlogSince = f->ticker->time;
}

// Each time the far end's sound came late the speaker played silence in its place, and the sound
// then waits here for good: the jitter buffer shrinking from its start, a sound server running
// late, or late packets released at once put 20-30 ms on the rest of the call. Once at least a
// frame has waited through a whole 2 s, what waited throughout was not needed to cover a late
// frame, and it is given back in the far end's pauses. A backlog that covers late packets runs
// out at each one, and is kept.
void watchBacklog(MSFilter* f, FilterState* s) {
    constexpr uint64_t kStandingMs = 2000;
    const size_t frame = s->micFrame.size() * sizeof(int16_t);
    const size_t backlog = ms_bufferizer_get_avail(&s->toSpeaker);
    const uint64_t now = std::max<uint64_t>(f->ticker->time, 1);
    if (backlog < frame || s->standingSince == 0) {
        s->standingSince = now;
        s->leastStanding = SIZE_MAX;
        return;
    }
    s->leastStanding = std::min(s->leastStanding, backlog);
    if (now < s->standingSince + kStandingMs)
        return;
    s->toGiveBack = s->leastStanding / frame * frame;
    ms_message(
        "echo canceller: %d ms waited for the speaker through %d s, given back in the far end's pauses",
        msOf(s, s->toGiveBack), int(kStandingMs / 1000));
    s->standingSince = now;
    s->leastStanding = SIZE_MAX;
}

void filterProcess(MSFilter* f) {
    FilterState* s = stateOf(f);
    s->clock.keepSteady(f->ticker);
    if (s->bypass) {
        while (mblk_t* m = ms_queue_get(f->inputs[0]))
            ms_queue_put(f->outputs[0], m);
        while (mblk_t* m = ms_queue_get(f->inputs[1]))
            ms_queue_put(f->outputs[1], m);
        return;
    }
    const size_t bytes = s->micFrame.size() * sizeof(int16_t);
    if (!s->speaking)
        startSpeaking(f, s);
    if (f->inputs[0]) {
        // The far end's sound before the speaker starts has nothing to line up with.
        if (s->speaking) {
            while (mblk_t* m = ms_queue_get(f->inputs[0])) {
                ms_bufferizer_put(&s->delayed, dupmsg(m));
                ms_bufferizer_put(&s->toSpeaker, m);
            }
        } else {
            ms_queue_flush(f->inputs[0]);
        }
    }
    ms_bufferizer_put_from_queue(&s->mic, f->inputs[1]);

    auto* micBytes = reinterpret_cast<uint8_t*>(s->micFrame.data());
    auto* playedBytes = reinterpret_cast<uint8_t*>(s->playedFrame.data());
    while (ms_bufferizer_read(&s->mic, micBytes, bytes) == bytes) {
        if (!s->speaking) {
            // Nothing is played yet: the filter's record of it is silence.
            std::fill(s->playedFrame.begin(), s->playedFrame.end(), 0);
            ms_bufferizer_put(&s->delayed, copyOf(playedBytes, bytes));
        } else if (ms_bufferizer_get_avail(&s->delayed) < s->nominalDelayed + bytes) {
            // The far end's sound is late: the speaker gets silence for this frame, and so does
            // the filter's record of what was played.
            std::fill(s->playedFrame.begin(), s->playedFrame.end(), 0);
            ms_bufferizer_put(&s->delayed, copyOf(playedBytes, bytes));
            ms_queue_put(f->outputs[0], copyOf(playedBytes, bytes));
            if (!s->usingSilence)
                ms_message("echo canceller: the speaker's sound is late, playing silence");
            s->usingSilence = true;
        } else {
            s->usingSilence = false;
            mblk_t* o = allocb(bytes, 0);
            ms_bufferizer_read(&s->toSpeaker, o->b_wptr, bytes);
            if (s->toGiveBack >= bytes && ms_bufferizer_get_avail(&s->toSpeaker) >= bytes &&
                energy(reinterpret_cast<const int16_t*>(o->b_wptr), int(s->micFrame.size())) < kFarHeard) {
                // A quiet frame, with another behind it: it is not played, nor kept as played.
                s->toGiveBack -= bytes;
                ms_bufferizer_skip_bytes(&s->delayed, int(bytes));
                ms_bufferizer_read(&s->toSpeaker, o->b_wptr, bytes);
            }
            o->b_wptr += bytes;
            ms_queue_put(f->outputs[0], o);
        }
        ms_bufferizer_read(&s->delayed, playedBytes, bytes);
        const EchoCanceller::Echo was = s->canceller->echo();
        mblk_t* out = allocb(bytes, 0);
        s->canceller->process(s->micFrame.data(), s->playedFrame.data(),
                              reinterpret_cast<int16_t*>(out->b_wptr));
        out->b_wptr += bytes;
        ms_queue_put(f->outputs[1], out);
        if (was != s->canceller->echo())
            ms_message("echo canceller: %s", s->canceller->echo() == EchoCanceller::Echo::Found
                                                 ? "echo found: cancelling it and suppressing what is left"
                                                 : "no echo: the microphone is passed on as it is");
    }
    if (s->speaking) {
        reportBacklog(f, s);
        watchBacklog(f, s);
    }
}

void filterPostprocess(MSFilter* f) {
    FilterState* s = stateOf(f);
    s->clock.release(f->ticker);
    ms_bufferizer_flush(&s->delayed);
    ms_bufferizer_flush(&s->toSpeaker);
    ms_bufferizer_flush(&s->mic);
    s->canceller.reset();
}

int setSampleRate(MSFilter* f, void* arg) {
    stateOf(f)->sampleRate = *static_cast<int*>(arg);
    return 0;
}

int getSampleRate(MSFilter* f, void* arg) {
    *static_cast<int*>(arg) = stateOf(f)->sampleRate;
    return 0;
}

int setFrameSize(MSFilter* f, void* arg) {
    stateOf(f)->frameSizeAt8000 = *static_cast<int*>(arg);
    return 0;
}

int setDelay(MSFilter* f, void* arg) {
    stateOf(f)->delayMs = std::max(0, *static_cast<int*>(arg));
    return 0;
}

int setTailLength(MSFilter* f, void* arg) {
    stateOf(f)->tailMs = *static_cast<int*>(arg);
    return 0;
}

int setBypass(MSFilter* f, void* arg) {
    stateOf(f)->bypass = *static_cast<bool_t*>(arg) != 0;
    return 0;
}

int getBypass(MSFilter* f, void* arg) {
    *static_cast<bool_t*>(arg) = stateOf(f)->bypass ? TRUE : FALSE;
    return 0;
}

// The filter's state is not kept from call to call (nor was it by mediastreamer's with Debian's
// speex): there is none to give, and one given is left aside.
int getState(MSFilter*, void* arg) {
    *static_cast<char**>(arg) = nullptr;
    return 0;
}

int setState(MSFilter*, void*) {
    return 0;
}

MSFilterMethod filterMethods[] = {
    {MS_FILTER_SET_SAMPLE_RATE, setSampleRate},         {MS_FILTER_GET_SAMPLE_RATE, getSampleRate},
    {MS_ECHO_CANCELLER_SET_TAIL_LENGTH, setTailLength}, {MS_ECHO_CANCELLER_SET_DELAY, setDelay},
    {MS_ECHO_CANCELLER_SET_FRAMESIZE, setFrameSize},    {MS_ECHO_CANCELLER_SET_BYPASS_MODE, setBypass},
    {MS_ECHO_CANCELLER_GET_BYPASS_MODE, getBypass},     {MS_ECHO_CANCELLER_GET_STATE_STRING, getState},
    {MS_ECHO_CANCELLER_SET_STATE_STRING, setState},     {0, nullptr},
};

MSFilterDesc echoCanceller = {
    MS_FILTER_PLUGIN_ID,
    kEchoCancellerName,
    "Echo canceller that leaves the microphone alone where there is no echo",
    MS_FILTER_OTHER,
    nullptr,
    2,
    2,
    filterInit,
    filterPreprocess,
    filterProcess,
    filterPostprocess,
    filterUninit,
    filterMethods,
    0,
};

} // namespace

void registerEchoCanceller(MSFactory* factory) {
    ms_factory_register_filter(factory, &echoCanceller);
}

} // namespace rtc::lin

// The echo canceller on speex itself, frame by frame as the audio graph drives it: a user without
// an echo is passed on whole, even when the far end sends back what it heard, and a
// loudspeaker's echo, clean or distorted, from the start or from the middle of the call, is taken
// out as deeply as with everything on from the start; and how the filter feeds the speaker. Real
// calls through the canceller are in test_engine_audio.cpp and bench/.
#include "rtc/linphone/EchoCanceller.h"

#include <gtest/gtest.h>
#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/msqueue.h>
#include <mediastreamer2/msticker.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

using rtc::lin::EchoCanceller;

namespace {

constexpr int kRate = 8000;
constexpr int kFrame = 64;
constexpr int kFilter = 2000; // 250 ms

// Runs the canceller over whole signals; `found` and `none` get the second it first found an echo
// and first found none (-1: never).
std::vector<double> cancel(const std::vector<double>& mic, const std::vector<double>& played, double* found,
                           double* none) {
    EchoCanceller ec(kFrame, kRate, kFilter);
    std::vector<double> out(mic.size());
    std::vector<int16_t> m(kFrame), p(kFrame), o(kFrame);
    *found = *none = -1;
    for (size_t i = 0; i + kFrame <= mic.size(); i += kFrame) {
        for (int k = 0; k < kFrame; ++k) {
            m[k] = int16_t(std::clamp(mic[i + k] * 32767.0, -32768.0, 32767.0));
            p[k] = int16_t(std::clamp(played[i + k] * 32767.0, -32768.0, 32767.0));
        }
        ec.process(m.data(), p.data(), o.data());
        for (int k = 0; k < kFrame; ++k)
            out[i + k] = o[k] / 32768.0;
        if (*found < 0 && ec.echo() == EchoCanceller::Echo::Found)
            *found = double(i) / kRate;
        if (*none < 0 && ec.echo() == EchoCanceller::Echo::None)
            *none = double(i) / kRate;
    }
    return out;
}

double energy(const std::vector<double>& x, size_t from, size_t n) {
    double sum = 0;
    for (size_t i = from; i < from + n && i < x.size(); ++i)
        sum += x[i] * x[i];
    return sum;
}

} // namespace

TEST(EchoCanceller, AUserWithoutEchoIsPassedOnWholeWhenTheFarEndSendsBackWhatItHeard) {
    // A chirp (300-3400 Hz, 200 ms) a second into the microphone, and the far end playing each
    // one back 137 ms later, as an echoing far end does: nothing of it reaches the microphone.
    const int chirpLen = kRate / 5;
    std::vector<double> chirp(chirpLen);
    for (int i = 0; i < chirpLen; ++i) {
        const double t = double(i) / kRate;
        const double ramp = std::min({1.0, i / 40.0, (chirpLen - i) / 40.0});
        chirp[i] = 0.2 * ramp * std::sin(2 * M_PI * (300 * t + 3100 * t * t / 0.4));
    }
    const int seconds = 30, lag = kRate * 137 / 1000, at = 800;
    std::vector<double> mic(size_t(seconds) * kRate), played(mic.size());
    std::mt19937 rng(2);
    std::normal_distribution<double> noise(0, 1e-4);
    for (double& x : mic)
        x = noise(rng);
    for (int s = 1; s < seconds - 1; ++s)
        for (int i = 0; i < chirpLen; ++i) {
            mic[size_t(s) * kRate + at + i] += chirp[i];
            played[size_t(s) * kRate + at + lag + i] = chirp[i];
        }
    double found = 0, none = 0;
    const std::vector<double> out = cancel(mic, played, &found, &none);
    EXPECT_EQ(found, -1) << "there was no echo to find";
    EXPECT_GE(none, 0);
    EXPECT_LT(none, 10.0) << "it took long to see there is no echo";
    // From 10 s on, each chirp as it went in (at the best of the first few lags: the canceller
    // may delay by a frame), its first 20 ms not weakened by more than 3 dB.
    for (int s = 10; s < seconds - 1; ++s) {
        const size_t start = size_t(s) * kRate + at;
        double similarity = 0, onset = 0;
        for (int d = 0; d <= 2 * kFrame; ++d) {
            double dot = 0;
            for (int i = 0; i < chirpLen; ++i)
                dot += out[start + d + i] * mic[start + i];
            similarity = std::max(
                similarity, dot / std::sqrt(energy(out, start + d, chirpLen) * energy(mic, start, chirpLen)));
            onset = std::max(onset, energy(out, start + d, kRate / 50) / energy(mic, start, kRate / 50));
        }
        EXPECT_GT(similarity, 0.99) << "chirp " << s;
        EXPECT_GT(onset, 0.5) << "the start of chirp " << s << " was cut";
    }
}

TEST(EchoCanceller, ALoudspeakersEchoIsTakenOutCleanOrDistortedFromTheStartOrFromMidCall) {
    // A voice-like far end talking 1.5 s in every 3, played on a loudspeaker (cleanly, clipping,
    // or from 10 s on only, as when a headset is unplugged) that the microphone hears through a
    // room: a decaying random response.
    const int seconds = 30;
    const size_t n = size_t(seconds) * kRate;
    std::vector<double> far(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        if (std::fmod(t, 3.0) >= 1.5)
            continue;
        double v = 0;
        for (int h = 1; h < 8; ++h)
            v += std::sin(2 * M_PI * 140 * h * t * (1 + 0.05 * std::sin(t)) + h) / h;
        far[i] = 0.25 * v * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t));
    }
    // The user talks too from 10 s on, 0.6 s in every 3, partly over the far end.
    std::vector<double> near(n);
    for (size_t i = size_t(10) * kRate; i < n; ++i) {
        const double t = double(i) / kRate;
        if (std::fmod(t + 0.7, 3.0) >= 0.6)
            continue;
        for (int k = 1; k < 6; ++k)
            near[i] += 0.2 * std::sin(2 * M_PI * 210 * k * t + k) / k;
    }
    std::mt19937 rng(1);
    std::normal_distribution<double> gauss(0, 1);
    std::vector<double> room(400);
    double norm = 0;
    for (size_t k = 30; k < room.size(); ++k) {
        room[k] = gauss(rng) * std::exp(-double(k) / 80.0);
        norm += room[k] * room[k];
    }
    for (double& h : room)
        h *= 0.3 / std::sqrt(norm);

    struct Case {
        const char* name;
        bool clipping;
        size_t from;
    };
    for (const Case c : {Case{"clean loudspeaker", false, 0}, Case{"clipping loudspeaker", true, 0},
                         Case{"loudspeaker from 10 s on", false, size_t(10) * kRate}}) {
        SCOPED_TRACE(c.name);
        const bool clipping = c.clipping;
        std::vector<double> echo(n), mic(n);
        for (size_t i = 0; i < n; ++i) {
            if (i < c.from) {
                mic[i] = near[i] + gauss(rng) * 1e-4;
                continue;
            }
            double v = 0;
            for (size_t k = 0; k < room.size() && k <= i - c.from; ++k) {
                const double s = far[i - k];
                v += room[k] * (clipping ? std::tanh(2 * s) / 2 : s);
            }
            echo[i] = v;
            mic[i] = v + near[i] + gauss(rng) * 1e-4;
        }
        double found = 0, none = 0;
        const std::vector<double> out = cancel(mic, far, &found, &none);
        const double echoFrom = double(c.from) / kRate;
        EXPECT_GE(found, echoFrom) << "an echo was found before there was one";
        EXPECT_LT(found, echoFrom + 3.0) << "the echo was found late, or never";
        if (c.from) {
            EXPECT_GE(none, 0) << "no echo was never seen before the loudspeaker";
            EXPECT_LT(none, echoFrom);
        }
        // 10 s after the echo began, while the far end talks alone: the echo taken out by 29 dB
        // and more (speex's filter alone leaves it at 24-26 dB here; with its residue suppressed
        // from the start, 33-38 dB).
        double in = 0, left = 0;
        for (size_t i = c.from + size_t(10) * kRate; i < n; ++i)
            if (far[i] != 0 && near[i] == 0) {
                in += echo[i] * echo[i];
                left += out[i] * out[i];
            }
        EXPECT_GT(10 * std::log10(in / left), 29.0);
    }
}

// The filter itself, driven tick by tick as the audio graph drives it: 10 ms of the far end's
// sound (a steady tone) and what the microphone delivered in each tick.
class EchoCancellerFilter : public ::testing::Test {
protected:
    void SetUp() override {
        factory_ = ms_factory_new();
        rtc::lin::registerEchoCanceller(factory_);
        f_ = ms_factory_create_filter_from_name(factory_, rtc::lin::kEchoCancellerName);
        ASSERT_NE(f_, nullptr);
        for (MSQueue* q : {&far_, &mic_, &speaker_, &sent_})
            ms_queue_init(q);
        f_->inputs[0] = &far_;
        f_->inputs[1] = &mic_;
        f_->outputs[0] = &speaker_;
        f_->outputs[1] = &sent_;
        f_->ticker = &ticker_;
        f_->desc->preprocess(f_);
    }
    void TearDown() override {
        if (!f_)
            return;
        f_->desc->postprocess(f_);
        for (MSQueue* q : {&far_, &mic_, &speaker_, &sent_})
            ms_queue_flush(q);
        std::fill_n(f_->inputs, 2, nullptr);
        std::fill_n(f_->outputs, 2, nullptr);
        ms_filter_destroy(f_);
        ms_factory_destroy(factory_);
    }

    static mblk_t* samples(int n, int16_t value) {
        mblk_t* m = allocb(size_t(n) * 2, 0);
        std::fill_n(reinterpret_cast<int16_t*>(m->b_wptr), n, value);
        m->b_wptr += size_t(n) * 2;
        return m;
    }

    // One tick: `far` of the far end's sound (nothing: none came) and `micMs` of the
    // microphone's (0: none came). Returns what the speaker was given in it.
    std::vector<int16_t> tick(int micMs, mblk_t* far) {
        ticker_.time += 10;
        if (far)
            ms_queue_put(&far_, far);
        if (micMs > 0)
            ms_queue_put(&mic_, samples(micMs * kRate / 1000, 0));
        f_->desc->process(f_);
        ms_queue_flush(&sent_);
        std::vector<int16_t> played;
        while (mblk_t* m = ms_queue_get(&speaker_)) {
            const auto* p = reinterpret_cast<const int16_t*>(m->b_rptr);
            played.insert(played.end(), p, p + (m->b_wptr - m->b_rptr) / 2);
            freemsg(m);
        }
        return played;
    }
    // The same with 10 ms of a steady tone from the far end.
    std::vector<int16_t> tick(int micMs) { return tick(micMs, samples(kRate / 100, 8000)); }

    // Starts the speaker, then runs `ticks` ticks of a far end that talks 200 ms and pauses
    // 200 ms; `farMsAt(t)` says how much of its sound came in tick t. Returns, for each time it
    // started talking, how long after it the speaker started playing it (ms).
    std::vector<double> delaysOfEachWord(int ticks, const std::function<int(int)>& farMsAt) {
        constexpr long kWord = kRate / 5;
        for (int i = 0; i < 5; ++i)
            tick(10);
        std::vector<double> delays;
        long farAt = 0, played = 0; // samples of the far end's sound, and of the speaker's
        long quietFor = kWord;      // samples the speaker has been silent for
        for (int t = 0; t < ticks; ++t) {
            const int n = farMsAt(t) * kRate / 1000;
            mblk_t* far = n > 0 ? allocb(size_t(n) * 2, 0) : nullptr;
            for (int i = 0; i < n; ++i, ++farAt) {
                *reinterpret_cast<int16_t*>(far->b_wptr) = (farAt / kWord) % 2 == 0 ? 8000 : 0;
                far->b_wptr += 2;
            }
            for (int16_t x : tick(10, far)) {
                // Silence played for a late frame is shorter than a pause: not a word's start.
                if (x != 0 && quietFor >= kRate / 20)
                    delays.push_back(double(played - long(delays.size()) * 2 * kWord) * 1000 / kRate);
                quietFor = x != 0 ? 0 : quietFor + 1;
                ++played;
            }
        }
        return delays;
    }

    MSFactory* factory_ = nullptr;
    MSFilter* f_ = nullptr;
    MSQueue far_, mic_, speaker_, sent_;
    MSTicker ticker_{};
};

// The microphone's first frames come in bursts while the sound server starts its stream; a
// speaker fed from them runs dry at once. It waits for a steady microphone, then starts 20 ms
// ahead, and from then on plays one frame for each of the microphone's.
TEST_F(EchoCancellerFilter, SpeakerWaitsForASteadyMicrophoneAndStartsAheadWithSilence) {
    for (int micMs : {10, 0, 20, 0, 30, 0})
        EXPECT_TRUE(tick(micMs).empty()) << "the speaker was fed from the microphone's first bursts";
    std::vector<int16_t> played;
    for (int i = 0; i < 5; ++i)
        for (int16_t s : tick(10))
            played.push_back(s);
    constexpr size_t kCushion = kRate / 50; // 20 ms
    ASSERT_GT(played.size(), kCushion) << "the speaker did not start after five steady ticks";
    EXPECT_TRUE(std::all_of(played.begin(), played.begin() + kCushion, [](int16_t s) { return s == 0; }));
    EXPECT_NE(played.back(), 0) << "the far end's sound does not follow the silence";

    // From then on: one frame for each of the microphone's, nothing piling up.
    size_t given = 0;
    for (int i = 0; i < 100; ++i)
        given += tick(10).size();
    EXPECT_NEAR(double(given), 100.0 * kRate / 100, kFrame);
}

// A sound server that hands the microphone over 40 ms at a time never looks steady: the speaker
// starts anyway, within 200 ms of the microphone's first sound.
TEST_F(EchoCancellerFilter, SpeakerStartsWithin200msWhenTheMicrophoneNeverComesSteadily) {
    int startedAfterMs = -1;
    for (int t = 0; t < 40 && startedAfterMs < 0; ++t)
        if (!tick(t % 4 == 0 ? 40 : 0).empty())
            startedAfterMs = t * 10;
    EXPECT_GE(startedAfterMs, 100);
    EXPECT_LE(startedAfterMs, 200);
}

// A far end whose sound came 30 ms late once (a sound server or the network running late, the
// jitter buffer then releasing what it held at once): the speaker played silence meanwhile, and
// the 30 ms then waited in the canceller for the rest of the call. Given back in the far end's
// pauses, the delay is what it was within a few seconds.
TEST_F(EchoCancellerFilter, DelayPutOnByALateFarEndIsGivenBackInItsPauses) {
    const auto delays = delaysOfEachWord(1500, [](int t) {
        return t >= 300 && t < 303 ? 0 : t == 303 ? 40 : 10;
    });
    ASSERT_GE(delays.size(), 30u);
    const double before = delays[5];
    EXPECT_NEAR(delays[9], before + 30, 8) << "the late far end did not put its delay on";
    EXPECT_NEAR(delays.back(), before, 5) << "the delay was never given back";
}

// Under loss a packet comes late again and again, and the sound that waits covers each one: it is
// kept, so that the speaker does not fall silent at each loss.
TEST_F(EchoCancellerFilter, ABacklogThatCoversLatePacketsIsKept) {
    // Every 370 ms a 20 ms packet is lost and filled in when the next one comes, 20 ms late.
    const auto delays = delaysOfEachWord(1500, [](int t) {
        const int k = t % 37;
        return k == 10 || k == 11 ? 0 : k == 12 ? 30 : 10;
    });
    ASSERT_GE(delays.size(), 30u);
    const auto [least, most] = std::minmax_element(delays.begin() + 3, delays.end());
    EXPECT_LE(*most - *least, 8) << "the backlog was given back and the next late packet put it on again";
}

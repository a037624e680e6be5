#include "rtc/linphone/TickerClock.h"

#include <gtest/gtest.h>
#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/msticker.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using rtc::lin::steadyCorrection;
using rtc::lin::TickerClock;

namespace {

// A filter alone in a graph that stands for the sound card's reader: on each tick it moves the
// synchroniser's skew as the microphone's running average does near a tick's boundary, and notes
// when the tick came.
struct Probe {
    MSTickerSynchronizer* sync = nullptr;
    bool steady = false;
    TickerClock clock;
    std::vector<uint64_t> wallMs;
    std::atomic<int> ticks{0};
};

void probeProcess(MSFilter* f) {
    auto* p = static_cast<Probe*>(f->data);
    if (p->steady)
        p->clock.keepSteady(f->ticker);
    p->sync->av_skew = p->ticks % 2 ? -9.6 : -10.4;
    p->wallMs.push_back(ortp_get_cur_time_ms());
    ++p->ticks;
}

MSFilterDesc probeDesc() {
    MSFilterDesc d{};
    d.id = MS_FILTER_PLUGIN_ID;
    d.name = "TickProbe";
    d.text = "test";
    d.category = MS_FILTER_OTHER;
    d.process = probeProcess;
    return d;
}

// Runs a real ticker on a synchroniser for `ticks` ticks; returns the gaps between them (ms).
std::vector<int> gapsOnTicker(bool steady, int ticks) {
    MSFactory* factory = ms_factory_new();
    MSFilterDesc desc = probeDesc();
    MSFilter* f = ms_factory_create_filter_from_desc(factory, &desc);
    Probe probe;
    probe.steady = steady;
    probe.sync = ms_ticker_synchronizer_new();
    f->data = &probe;
    MSTickerParams params{};
    params.name = "TickerClockTest";
    params.prio = MS_TICKER_PRIO_HIGH; // as a call's audio ticker: scheduling is not what is measured
    MSTicker* ticker = ms_ticker_new_with_params(&params);
    ms_ticker_set_synchronizer(ticker, probe.sync);
    ms_ticker_attach(ticker, f);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (probe.ticks < ticks && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ms_ticker_detach(ticker, f);
    probe.clock.release(ticker);
    ms_ticker_destroy(ticker);
    f->data = nullptr;
    ms_filter_destroy(f);
    ms_ticker_synchronizer_destroy(probe.sync);
    ms_factory_destroy(factory);
    std::vector<int> gaps;
    for (size_t i = 1; i < probe.wallMs.size(); ++i)
        gaps.push_back(int(probe.wallMs[i] - probe.wallMs[i - 1]));
    return gaps;
}

int countAtLeast(const std::vector<int>& gaps, int ms) {
    return int(std::count_if(gaps.begin(), gaps.end(), [ms](int g) { return g >= ms; }));
}

} // namespace

// A skew wobbling across a tick's boundary: on mediastreamer's own clock every other tick waits
// 20 ms (the speaker, written each tick, runs dry); on the steady clock the ticks keep 10 ms.
TEST(TickerClock, ASkewWobblingAcrossATicksBoundaryNoLongerDelaysTicks) {
    constexpr int kTicks = 80;
    const std::vector<int> own = gapsOnTicker(false, kTicks);
    ASSERT_GE(own.size(), size_t(kTicks - 1));
    EXPECT_GE(countAtLeast(own, 18), kTicks / 4) << "the wobble did not show on the synchroniser's own clock";

    const std::vector<int> steady = gapsOnTicker(true, kTicks);
    ASSERT_GE(steady.size(), size_t(kTicks - 1));
    // The first tick runs before the clock is changed.
    EXPECT_LE(countAtLeast(std::vector<int>(steady.begin() + 1, steady.end()), 18), 1);
}

// The steady clock still follows the sound card: a skew drifting by 40 ms, wobbling by a
// millisecond all the way, moves it four ticks, once each, and never leaves it a tick behind.
TEST(TickerClock, FollowsADriftingSkewOneTickAtATime) {
    int64_t applied = 0;
    int moves = 0;
    for (int i = 0; i <= 4000; ++i) {
        const double skew = -0.01 * i + (i % 2 ? 1.0 : -1.0);
        const int64_t next = steadyCorrection(applied, skew, 10);
        moves += next != applied;
        applied = next;
        ASSERT_LT(std::abs(skew - double(applied)), 8.0) << "at step " << i;
    }
    EXPECT_EQ(applied, -40);
    EXPECT_EQ(moves, 4);
}

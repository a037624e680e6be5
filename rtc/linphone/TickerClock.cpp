#include "rtc/linphone/TickerClock.h"

#include <mediastreamer2/mscommon.h>
#include <mediastreamer2/msticker.h>

#include <utility>

namespace rtc::lin {

namespace {

// How far, in ticks, the skew must stand past the applied correction before the clock moves: far
// enough that the skew's sub-millisecond wobble cannot move it back at once.
constexpr double kStepAt = 0.8;

} // namespace

int64_t steadyCorrection(int64_t appliedMs, double skewMs, int tickMs) {
    const double band = kStepAt * tickMs;
    while (skewMs - double(appliedMs) >= band)
        appliedMs += tickMs;
    while (double(appliedMs) - skewMs >= band)
        appliedMs -= tickMs;
    return appliedMs;
}

namespace {

// The wall clock the synchroniser measures the skew against, to the nearest millisecond.
uint64_t wallMs() {
    MSTimeSpec ts;
    ms_get_cur_time(&ts);
    return uint64_t(ts.tv_sec) * 1000 + (uint64_t(ts.tv_nsec) + 500000) / 1000000;
}

// The ticker's time function and its data, read under the lock that guards them.
std::pair<MSTickerTimeFunc, void*> timeFuncOf(MSTicker* t) {
    ms_mutex_lock(&t->cur_time_lock);
    const std::pair<MSTickerTimeFunc, void*> f{t->get_cur_time_ptr, t->get_cur_time_data};
    ms_mutex_unlock(&t->cur_time_lock);
    return f;
}

const auto kSynchronised = reinterpret_cast<MSTickerTimeFunc>(&ms_ticker_synchronizer_get_corrected_time);

} // namespace

uint64_t TickerClock::now(void* self) {
    // The ticker calls this under its time lock, from its thread or from whoever asks its time.
    auto* c = static_cast<TickerClock*>(self);
    c->appliedMs_ = steadyCorrection(c->appliedMs_, c->sync_->av_skew, c->tickMs_);
    return wallMs() - uint64_t(c->appliedMs_);
}

void TickerClock::keepSteady(MSTicker* ticker) {
    if (!ticker)
        return;
    const auto [func, data] = timeFuncOf(ticker);
    if (func != kSynchronised || !data)
        return;
    sync_ = static_cast<MSTickerSynchronizer*>(data);
    tickMs_ = ticker->interval > 0 ? ticker->interval : 10;
    // Where the synchroniser's own clock stands, so the ticker does not move at the change.
    appliedMs_ = int64_t(sync_->av_skew) / tickMs_ * tickMs_;
    ms_ticker_set_time_func(ticker, &TickerClock::now, this);
    ms_message("ticker clock: moving by a tick only once the sound card's skew is %d ms past it",
               int(kStepAt * tickMs_));
}

void TickerClock::release(MSTicker* ticker) {
    if (ticker && timeFuncOf(ticker) == std::pair<MSTickerTimeFunc, void*>{&TickerClock::now, this})
        ms_ticker_set_time_func(ticker, kSynchronised, sync_);
}

} // namespace rtc::lin

#include "rtc/linphone/G711Decoder.h"

#include <mediastreamer2/mediastream.h>
#include <mediastreamer2/mscodecutils.h>
#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/msinterfaces.h>
#include <mediastreamer2/msticker.h>
#include <ortp/rtpsession.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace rtc::lin {

namespace {

constexpr size_t kHistory = 390; // 48.75 ms: three of the longest pitch periods and more
constexpr int kMinPeriod = 40;   // 200 Hz at 8 kHz
constexpr int kMaxPeriod = 120;  // 66 Hz
constexpr int kCorrelated = 160; // the last 20 ms, compared with the stretch one period before
// The fill is played at full level for 5 ms, then fades out over 30 ms: the longer a guess, the
// likelier it is wrong, and a long loss ends in silence.
constexpr uint32_t kFull = 40;
constexpr uint32_t kFade = 240;
constexpr int32_t kMaxBehind = 8000;      // a packet 1 s before the last belongs to a new stream
constexpr int64_t kGiveBackSamples = 160; // a packet's worth: what is kept waiting for the next loss
constexpr int64_t kWindowSamples = 8000;  // 1 s
constexpr int kQuietRms = 100;            // -50 dBFS: a pause, not speech

int16_t fromMuLaw(uint8_t u) {
    u = static_cast<uint8_t>(~u);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return static_cast<int16_t>((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

int16_t fromALaw(uint8_t a) {
    a ^= 0x55;
    int t = (a & 0x0F) << 4;
    const int segment = (a & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else
        t = (t + 0x108) << (segment - 1);
    return static_cast<int16_t>((a & 0x80) ? t : -t);
}

} // namespace

void G711Concealer::packet(uint32_t timestamp, uint16_t seq, bool marker, const uint8_t* payload, size_t size,
                           int64_t nowMs, std::vector<int16_t>& out) {
    if (size == 0)
        return;
    std::vector<int16_t> pcm;
    decode(law_, payload, size, pcm);

    size_t skip = 0;
    uint32_t gap = 0;
    bool resync = !started_;
    if (started_) {
        const auto delta = static_cast<int32_t>(timestamp - nextTimestamp_);
        const auto lost = static_cast<uint16_t>(seq - lastSeq_ - 1);
        if (delta < -kMaxBehind || delta > static_cast<int32_t>(8 * kMaxBehind) || (marker && delta < 0)) {
            resync = true; // a new stream, or the far end started over
        } else if (delta < 0) {
            // Already played, in full or in part (a duplicate): only what is new is played.
            skip = static_cast<size_t>(-delta);
            if (skip >= size)
                return;
        } else if (delta > 0 && !marker && lost != 0 && lost < 0x8000 &&
                   static_cast<uint32_t>(delta) <= kMaxGapSamples) {
            // Packets were lost. A gap without a lost packet is the far end's silence, and one
            // after a marker the start of its next talk spurt: both are played as they come.
            gap = static_cast<uint32_t>(delta);
        }
    }
    const int64_t now = nowMs * 8;
    // What was played before runs out at outEnd_; when it already has, the past cannot be
    // played any more.
    if (resync || outEnd_ < now)
        outEnd_ = now;
    const int64_t ahead = outEnd_ - now;
    noteAhead(now, ahead);

    nextTimestamp_ = timestamp + static_cast<uint32_t>(size);
    lastArrival_ = now;
    lastSize_ = size;
    if (resync || static_cast<int16_t>(seq - lastSeq_) > 0)
        lastSeq_ = seq;
    started_ = true;

    // A filled-in loss that came after the speaker had run dry has made the call slower by what
    // was missing. That is given back, a quiet packet at a time (the far end's pauses, where
    // nothing is lost by it), while more than one packet has been waiting all along, so that one
    // packet's cushion stays for the next loss.
    if (gap == 0 && skip == 0 && !resync && std::min(ahead, minAhead()) >= 2 * kGiveBackSamples &&
        quiet(pcm)) {
        given_ += static_cast<long long>(size);
        return;
    }

    if (gap > 0)
        conceal(gap, pcm.data(), pcm.size(), out);
    const size_t first = out.size();
    out.insert(out.end(), pcm.begin() + static_cast<std::ptrdiff_t>(skip), pcm.end());
    remember(out.data() + first, out.size() - first);
    outEnd_ += static_cast<int64_t>(out.size() - first);
}

void G711Concealer::due(int64_t nowMs, const Lookup& waiting, std::vector<int16_t>& out) {
    const int64_t now = nowMs * 8;
    if (!started_ || lastSize_ == 0 || now - lastArrival_ < static_cast<int64_t>(lastSize_))
        return;
    Waiting next;
    if (waiting(static_cast<uint16_t>(lastSeq_ + 1), next))
        return; // late in the jitter buffer's own reckoning, not lost
    // Up to the longest gap that is filled in, and no more than a few packets to look for.
    const auto maxLost = static_cast<uint16_t>(std::min<size_t>(kMaxGapSamples / lastSize_, 12));
    for (uint16_t lost = 1; lost <= maxLost; ++lost) {
        if (!waiting(static_cast<uint16_t>(lastSeq_ + lost + 1), next))
            continue;
        // A marker starts a talk spurt after the far end's silence, and a packet of another
        // size is not this stream's voice (comfort noise): neither tells what was lost.
        if (next.marker || next.size != lastSize_)
            return;
        std::vector<int16_t> pcm;
        decode(law_, next.payload, next.size, pcm);
        if (outEnd_ < now)
            outEnd_ = now;
        noteAhead(now, outEnd_ - now);
        const auto gap = static_cast<uint32_t>(lost * lastSize_);
        conceal(gap, pcm.data(), pcm.size(), out);
        filledWhenDue_ += gap;
        // The packet after the gap is then taken as following on, when it is handed over.
        nextTimestamp_ += gap;
        lastSeq_ = static_cast<uint16_t>(lastSeq_ + lost);
        lastArrival_ = now;
        return;
    }
}

void G711Concealer::noteAhead(int64_t now, int64_t ahead) {
    // The least that was waiting at a packet's arrival, over the last one to two seconds.
    if (now - windowStart_ >= kWindowSamples || now < windowStart_) {
        previousMin_ = windowStart_ == 0 && currentMin_ == INT64_MAX ? ahead : currentMin_;
        currentMin_ = INT64_MAX;
        windowStart_ = now;
    }
    currentMin_ = std::min(currentMin_, ahead);
}

int64_t G711Concealer::minAhead() const {
    return std::min(previousMin_, currentMin_);
}

bool G711Concealer::quiet(const std::vector<int16_t>& pcm) {
    double e = 0;
    for (int16_t v : pcm)
        e += static_cast<double>(v) * v;
    return e < static_cast<double>(kQuietRms) * kQuietRms * static_cast<double>(pcm.size());
}

void G711Concealer::decode(Law law, const uint8_t* payload, size_t size, std::vector<int16_t>& out) {
    out.reserve(out.size() + size);
    for (size_t i = 0; i < size; ++i)
        out.push_back(law == Law::Mu ? fromMuLaw(payload[i]) : fromALaw(payload[i]));
}

float G711Concealer::level(uint32_t k) {
    return k < kFull ? 1.0f : std::max(0.0f, 1.0f - static_cast<float>(k - kFull) / kFade);
}

void G711Concealer::conceal(uint32_t samples, const int16_t* next, size_t nextSize,
                            std::vector<int16_t>& out) {
    concealed_ += samples;
    const size_t first = out.size();
    // The gap is known only once the packet after it has come, so it is filled from both sides:
    // the last pitch period before it repeated forwards, fading out, and the first one of the
    // packet after it repeated backwards, fading in, cross-faded over the gap. The backward part
    // joins the packet without a seam and follows a voice that changed during the loss.
    std::vector<int16_t> before;
    if (history_.size() >= kHistory) {
        const int p = pitchPeriod(history_.data() + history_.size() - kCorrelated, kCorrelated, true);
        before.assign(history_.end() - p, history_.end());
    }
    std::vector<int16_t> after;
    if (nextSize >= static_cast<size_t>(2 * kMinPeriod))
        after.assign(next, next + pitchPeriod(next, nextSize, false));
    for (uint32_t k = 0; k < samples; ++k) {
        const float forward = before.empty() ? 0.0f : before[k % before.size()] * level(k);
        // Position k lies samples - k before the packet: that far back in its periodic extension.
        const uint32_t back = samples - k;
        const float backward =
            after.empty() ? 0.0f
                          : after[(after.size() - back % after.size()) % after.size()] * level(back - 1);
        const float w = static_cast<float>(k + 1) / static_cast<float>(samples + 1);
        out.push_back(static_cast<int16_t>(std::lround(forward * (1.0f - w) + backward * w)));
    }
    remember(out.data() + first, samples);
    outEnd_ += samples;
}

int G711Concealer::pitchPeriod(const int16_t* x, size_t n, bool backwards) {
    // The lag at which a stretch best matches the signal one lag away from it (normalised
    // cross-correlation): for the past, its last 20 ms against what came before them; for the
    // packet after a loss, its start against what follows.
    int best = kMinPeriod;
    double bestScore = -2.0;
    const int maxPeriod = backwards ? kMaxPeriod : std::min<int>(kMaxPeriod, static_cast<int>(n / 2));
    for (int p = kMinPeriod; p <= maxPeriod; ++p) {
        double cross = 0.0;
        double e0 = 0.0;
        double e1 = 0.0;
        const size_t len = backwards ? n : n - static_cast<size_t>(p);
        for (size_t i = 0; i < len; ++i) {
            const double a = x[i];
            const double b = backwards ? *(x + i - p) : x[i + static_cast<size_t>(p)];
            cross += a * b;
            e0 += a * a;
            e1 += b * b;
        }
        const double score = e0 > 0.0 && e1 > 0.0 ? cross / std::sqrt(e0 * e1) : 0.0;
        if (score > bestScore) {
            bestScore = score;
            best = p;
        }
    }
    return best;
}

void G711Concealer::remember(const int16_t* samples, size_t n) {
    history_.insert(history_.end(), samples, samples + n);
    if (history_.size() > kHistory)
        history_.erase(history_.begin(), history_.end() - kHistory);
}

int64_t JitterLineWatch::tick(int64_t nowMs, uint32_t span, uint32_t packet, int32_t target) {
    if (windowStart_ < 0 || nowMs < windowStart_) {
        windowStart_ = nowMs;
        spanSum_ = 0;
        ticks_ = 0;
        lastExcess_ = -1;
    }
    if (packet == 0)
        return 0;
    spanSum_ += span + packet;
    ++ticks_;
    if (nowMs - windowStart_ < kWindowMs)
        return 0;
    const int64_t excess = spanSum_ / ticks_ - target;
    windowStart_ = nowMs;
    spanSum_ = 0;
    ticks_ = 0;
    int64_t late = 0;
    if (excess > kLateTs && lastExcess_ > kLateTs) {
        late = std::min(std::min(excess, lastExcess_) - kKeptTs, kMostMovedTs);
        lastExcess_ = -1;
    } else {
        lastExcess_ = excess;
    }
    return late;
}

namespace {

struct DecoderState {
    explicit DecoderState(G711Concealer::Law law) : concealer(law) {}
    G711Concealer concealer;
    std::vector<int16_t> out;
    MSRtpPayloadPickerContext picker{}; // the stream's jitter buffer, when the stream gives it
    JitterLineWatch watch;
};

// Keeps the jitter buffer's line on time (JitterLineWatch). The decoder runs on the ticker that
// also drives the stream's receiving, so the session is not touched by another thread meanwhile.
// Moving the line releases the excess at once: the jitter buffer drops all but the newest packet
// due, this decoder fills their place, and the delay is given back in the far end's pauses.
void watchLine(MSFilter* f, DecoderState* s) {
    if (s->picker.filter_graph_manager == nullptr)
        return;
    auto* stream = static_cast<AudioStream*>(s->picker.filter_graph_manager);
    RtpSession* session = stream->ms.sessions.rtp_session;
    if (session == nullptr)
        return;
    JitterControl& jc = session->rtp.jittctl;
    if (jc.params.buffer_algorithm != OrtpJitterBufferRecursiveLeastSquare || jc.count == 0 ||
        jc.is_diverging)
        return;
    queue_t* q = &session->rtp.rq;
    uint32_t span = 0;
    if (!qempty(q))
        span = rtp_get_timestamp(qlast(q)) - rtp_get_timestamp(qbegin(q));
    // More than the buffer may hold is not this stream's voice (a telephone event keeps the
    // timestamp its tone began at, a new stream starts anywhere): not counted.
    if (span > static_cast<uint32_t>(jc.params.max_size) * static_cast<uint32_t>(jc.clock_rate) / 1000u)
        return;
    const int64_t late =
        s->watch.tick(static_cast<int64_t>(f->ticker->time), span,
                      static_cast<uint32_t>(s->concealer.packetSamples()), jc.adapt_jitt_comp_ts);
    if (late <= 0)
        return;
    jc.kalman_rls.b += static_cast<double>(late);
    jc.clock_offset_ts += static_cast<int32_t>(late);
    ms_message("G.711 decoder: the jitter buffer's timing was %d ms late, moved", static_cast<int>(late / 8));
}

template <G711Concealer::Law L> void decoderInit(MSFilter* f) {
    f->data = new DecoderState(L);
}

void decoderUninit(MSFilter* f) {
    auto* s = static_cast<DecoderState*>(f->data);
    const auto& c = s->concealer;
    ms_message("G.711 decoder: %lld ms of lost packets filled in (%lld when due), %lld ms given back",
               c.concealedSamples() / 8, c.filledWhenDueSamples() / 8, c.givenBackSamples() / 8);
    delete s;
}

void put(MSFilter* f, const std::vector<int16_t>& samples) {
    if (samples.empty())
        return;
    const size_t bytes = samples.size() * sizeof(int16_t);
    mblk_t* o = allocb(bytes, 0);
    std::memcpy(o->b_wptr, samples.data(), bytes);
    o->b_wptr += bytes;
    ms_queue_put(f->outputs[0], o);
}

void decoderProcess(MSFilter* f) {
    auto* s = static_cast<DecoderState*>(f->data);
    watchLine(f, s);
    bool came = false;
    while (mblk_t* m = ms_queue_get(f->inputs[0])) {
        came = true;
        if (m->b_cont)
            msgpullup(m, static_cast<size_t>(-1));
        const auto size = static_cast<size_t>(m->b_wptr - m->b_rptr);
        s->out.clear();
        s->concealer.packet(mblk_get_timestamp_info(m), static_cast<uint16_t>(mblk_get_cseq(m)),
                            mblk_get_marker_info(m) != 0, m->b_rptr, size,
                            static_cast<int64_t>(f->ticker->time), s->out);
        put(f, s->out);
        freemsg(m);
    }
    if (came || s->picker.picker == nullptr)
        return;
    s->out.clear();
    s->concealer.due(
        static_cast<int64_t>(f->ticker->time),
        [s](uint16_t seq, G711Concealer::Waiting& w) {
            mblk_t* m = s->picker.picker(&s->picker, seq);
            if (m == nullptr)
                return false;
            unsigned char* payload = nullptr;
            const int size = rtp_get_payload(m, &payload);
            if (size <= 0)
                return false;
            w.marker = rtp_get_markbit(m) != 0;
            w.payload = payload;
            w.size = static_cast<size_t>(size);
            return true;
        },
        s->out);
    put(f, s->out);
}

int setPicker(MSFilter* f, void* arg) {
    static_cast<DecoderState*>(f->data)->picker = *static_cast<MSRtpPayloadPickerContext*>(arg);
    return 0;
}

int getSampleRate(MSFilter*, void* arg) {
    *static_cast<int*>(arg) = 8000;
    return 0;
}

int getChannels(MSFilter*, void* arg) {
    *static_cast<int*>(arg) = 1;
    return 0;
}

// Concealment is always on: the graph's generic one is never added after these decoders, whatever
// the audio features say.
int havePlc(MSFilter*, void* arg) {
    *static_cast<int*>(arg) = 1;
    return 0;
}

MSFilterMethod decoderMethods[] = {
    {MS_FILTER_GET_SAMPLE_RATE, getSampleRate},
    {MS_FILTER_GET_NCHANNELS, getChannels},
    {MS_AUDIO_DECODER_HAVE_PLC, havePlc},
    {MS_AUDIO_DECODER_SET_RTP_PAYLOAD_PICKER, setPicker},
    {0, nullptr},
};

MSFilterDesc muLawDecoder = {
    MS_FILTER_PLUGIN_ID,
    "OrvaneUlawDec",
    "G.711 u-law decoder filling in lost packets",
    MS_FILTER_DECODER,
    "pcmu",
    1,
    1,
    decoderInit<G711Concealer::Law::Mu>,
    nullptr,
    decoderProcess,
    nullptr,
    decoderUninit,
    decoderMethods,
    MS_FILTER_IS_PUMP, // called on every tick, to fill a loss when it is due
};

MSFilterDesc aLawDecoder = {
    MS_FILTER_PLUGIN_ID,
    "OrvaneAlawDec",
    "G.711 A-law decoder filling in lost packets",
    MS_FILTER_DECODER,
    "pcma",
    1,
    1,
    decoderInit<G711Concealer::Law::A>,
    nullptr,
    decoderProcess,
    nullptr,
    decoderUninit,
    decoderMethods,
    MS_FILTER_IS_PUMP, // called on every tick, to fill a loss when it is due
};

} // namespace

void registerG711Decoders(MSFactory* factory) {
    // The factory takes the last registered decoder of a format first.
    ms_factory_register_filter(factory, &muLawDecoder);
    ms_factory_register_filter(factory, &aLawDecoder);
}

} // namespace rtc::lin

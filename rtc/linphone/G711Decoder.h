// G.711 decoders that fill the place of each lost packet from the voice on both sides of it, so
// that everything after a loss is played on time.
//
// mediastreamer's own G.711 decoders have no concealment, and its generic one conceals by the
// clock: it fills in whenever what it has played runs out, and then plays the late packet as
// well, so every late packet makes the call slower for good, while a lost one is not filled in
// at all when the buffers after it still hold a little (the call then skips ahead by a packet).
// These decoders keep to the sender's timeline, from the packets' RTP timestamps and sequence
// numbers: the gap that packets were lost in is filled with exactly its length, at the time the
// lost packet was due when the packet after it is already in the jitter buffer, else when that
// packet comes. The delay a loss adds when the speaker had already run dry is given back in the
// far end's pauses.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

struct _MSFactory;

namespace rtc::lin {

// The decoding and concealment, without mediastreamer (tested on its own).
class G711Concealer {
public:
    enum class Law { Mu, A };
    explicit G711Concealer(Law law) : law_(law) {}

    // One packet as received (its RTP timestamp, sequence number and marker bit, and its G.711
    // payload) at nowMs on the audio clock. Appends to `out` what is to be played: first the
    // filling-in of the packets lost just before it, then the packet; only its new part when it
    // overlaps what was already played; nothing when it is all old, or when it is a quiet packet
    // given back.
    void packet(uint32_t timestamp, uint16_t seq, bool marker, const uint8_t* payload, size_t size,
                int64_t nowMs, std::vector<int16_t>& out);

    // A packet waiting in the jitter buffer, looked at before it is due.
    struct Waiting {
        bool marker = false;
        const uint8_t* payload = nullptr;
        size_t size = 0;
    };
    // Finds the packet of a sequence number in the jitter buffer, if it is there.
    using Lookup = std::function<bool(uint16_t seq, Waiting&)>;

    // A tick on which no packet came, at nowMs. When the packet after the last one played was
    // due by now, is not waiting and a later one is, it was lost: the gap up to the later one is
    // filled at once into `out`, rather than a packet's time later, when the later one is
    // handed over, by which time the speaker would have run dry.
    void due(int64_t nowMs, const Lookup& waiting, std::vector<int16_t>& out);

    // Plain decoding.
    static void decode(Law law, const uint8_t* payload, size_t size, std::vector<int16_t>& out);

    // Samples filled in so far, and quiet samples left out to give delay back.
    long long concealedSamples() const { return concealed_; }
    long long givenBackSamples() const { return given_; }
    long long filledWhenDueSamples() const { return filledWhenDue_; }
    // Samples in the last packet.
    size_t packetSamples() const { return lastSize_; }

    // Longest gap that is filled in: beyond it the line was down rather than lossy, and what
    // follows is played as it comes.
    static constexpr uint32_t kMaxGapSamples = 960; // 120 ms at 8 kHz

private:
    void conceal(uint32_t samples, const int16_t* next, size_t nextSize, std::vector<int16_t>& out);
    static float level(uint32_t k);
    static bool quiet(const std::vector<int16_t>& pcm);
    void noteAhead(int64_t now, int64_t ahead);
    int64_t minAhead() const;
    static int pitchPeriod(const int16_t* x, size_t n, bool backwards);
    void remember(const int16_t* samples, size_t n);

    Law law_;
    bool started_ = false;
    uint32_t nextTimestamp_ = 0;
    uint16_t lastSeq_ = 0;
    int64_t lastArrival_ = 0; // when the last packet came, in samples of the clock
    size_t lastSize_ = 0;
    long long concealed_ = 0;
    long long given_ = 0;
    long long filledWhenDue_ = 0;
    std::vector<int16_t> history_; // the last samples played, newest last
    int64_t outEnd_ = 0;           // when what was played runs out, in samples of the clock
    int64_t windowStart_ = 0;      // the least waiting at an arrival, this window and the last
    int64_t currentMin_ = INT64_MAX;
    int64_t previousMin_ = INT64_MAX;
};

// The jitter buffer (ortp's) releases each packet by a line fitted to every arrival since the
// stream began, never forgetting, so a spell of jitter late in a call, or a stall of the sound
// server that sets the audio clock back, leaves the line late for the rest of the call: every
// packet then waits that much longer than the buffer's own target (20-30 ms in the bench, for
// good). Fed, on every tick, what the buffer holds (its timestamps' span plus the newest
// packet) and its target, in timestamp units, this tells when the line is late: when the buffer
// held over 15 ms more than its target on average through each of two whole seconds (on time it
// holds about 6 ms more). It is then moved by the lesser excess of the two, less 8 ms, and by
// 40 ms at most at a time.
class JitterLineWatch {
public:
    // How late the line is, when it is to be moved; else 0.
    int64_t tick(int64_t nowMs, uint32_t span, uint32_t packet, int32_t target);

    static constexpr int64_t kWindowMs = 1000;
    static constexpr int64_t kLateTs = 120;      // 15 ms at 8 kHz
    static constexpr int64_t kKeptTs = 64;       // 8 ms
    static constexpr int64_t kMostMovedTs = 320; // 40 ms: a packet or two filled in at most

private:
    int64_t windowStart_ = -1;
    long long spanSum_ = 0;
    long long ticks_ = 0;
    int64_t lastExcess_ = -1;
};

// Registers the two decoders with the factory: they take the place of its own for PCMU and PCMA
// in every call made afterwards.
void registerG711Decoders(_MSFactory* factory);

} // namespace rtc::lin

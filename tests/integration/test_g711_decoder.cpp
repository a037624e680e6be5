// The G.711 decoders' filling-in of lost packets, driven as the audio graph drives it: packets
// handed over on the 10 ms tick they are due (or later), with the clock's time. What must hold
// whatever the line does: everything is played at its place on the sender's timeline (no packet
// skipped ahead, none played twice), a lost packet is filled with sound rather than left a gap,
// and delay a loss added is given back only in pauses. Real calls through the decoders are in
// test_engine_audio.cpp and bench/.
#include "rtc/linphone/G711Decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <vector>

using rtc::lin::G711Concealer;

namespace {

constexpr size_t kPacket = 160; // 20 ms at 8 kHz

// A voice-like test signal: a 150 Hz fundamental and its harmonics, slowly changing in level;
// silent where `pause` says so (by packet).
std::vector<int16_t> voice(int packets, bool (*pause)(int) = nullptr) {
    std::vector<int16_t> x(kPacket * packets);
    for (size_t i = 0; i < x.size(); ++i) {
        if (pause && pause(static_cast<int>(i / kPacket)))
            continue;
        const double t = static_cast<double>(i) / 8000.0;
        double v = 0;
        for (int h = 1; h <= 5; ++h)
            v += std::sin(2 * M_PI * 150.0 * h * t + h) / h;
        x[i] = static_cast<int16_t>(6000.0 * v * (0.8 + 0.2 * std::sin(2 * M_PI * 2.0 * t)));
    }
    return x;
}

// G.711 encoding by the nearest code: the decoder is what is under test.
std::vector<uint8_t> encode(G711Concealer::Law law, const std::vector<int16_t>& pcm) {
    std::array<int16_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        std::vector<int16_t> one;
        const auto code = static_cast<uint8_t>(c);
        G711Concealer::decode(law, &code, 1, one);
        table[c] = one[0];
    }
    std::vector<uint8_t> out(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) {
        int best = 0;
        for (int c = 1; c < 256; ++c)
            if (std::abs(table[c] - pcm[i]) < std::abs(table[best] - pcm[i]))
                best = c;
        out[i] = static_cast<uint8_t>(best);
    }
    return out;
}

// What the stock decoder plays of `payload`: the reference every test compares with.
std::vector<int16_t> decoded(G711Concealer::Law law, const std::vector<uint8_t>& payload) {
    std::vector<int16_t> out;
    G711Concealer::decode(law, payload.data(), payload.size(), out);
    return out;
}

double energy(const std::vector<int16_t>& x, size_t from, size_t n) {
    double e = 0;
    for (size_t i = from; i < from + n && i < x.size(); ++i)
        e += static_cast<double>(x[i]) * x[i];
    return e;
}

bool samePacket(const std::vector<int16_t>& out, size_t at, const std::vector<int16_t>& clean, int p) {
    if (at + kPacket > out.size())
        return false;
    for (size_t i = 0; i < kPacket; ++i)
        if (out[at + i] != clean[p * kPacket + i])
            return false;
    return true;
}

struct Line {
    std::set<int> lost;        // packet numbers that never arrive
    std::map<int, int> lateMs; // packet number -> how late it arrives
    std::set<int> duplicated;  // packet numbers that arrive twice
};

// Sends `packets` packets of `payload` through the concealer over a line, on a clock of 10 ms
// ticks; returns everything played. With `jitterMs`, each packet waits that long in a jitter
// buffer the concealer may look into, and `playedByTick` gets how much was played by each tick.
std::vector<int16_t> play(G711Concealer& c, const std::vector<uint8_t>& payload, int packets,
                          const Line& line, int jitterMs = 0,
                          std::map<int64_t, size_t>* playedByTick = nullptr) {
    const uint32_t ts0 = 0xfffff000u; // timestamps and sequence numbers wrap round on the way
    const uint16_t seq0 = 65530;
    std::multimap<int64_t, int> arrivals; // time -> packet number
    for (int p = 0; p < packets; ++p) {
        if (line.lost.count(p))
            continue;
        const int64_t due = 1000 + 20 * p;
        const auto late = line.lateMs.find(p);
        arrivals.emplace(due + (late == line.lateMs.end() ? 0 : late->second), p);
        if (line.duplicated.count(p))
            arrivals.emplace(due + 30, p);
    }
    std::vector<int16_t> out;
    for (int64_t now = 1000; !arrivals.empty(); now += 10) {
        bool came = false;
        for (auto it = arrivals.begin(); it != arrivals.end() && it->first <= now; it = arrivals.erase(it)) {
            const int p = it->second;
            c.packet(ts0 + static_cast<uint32_t>(p * kPacket), static_cast<uint16_t>(seq0 + p), p == 0,
                     payload.data() + p * kPacket, kPacket, now, out);
            came = true;
        }
        if (!came && jitterMs > 0) {
            c.due(
                now,
                [&](uint16_t seq, G711Concealer::Waiting& w) {
                    for (const auto& [at, p] : arrivals) {
                        if (static_cast<uint16_t>(seq0 + p) == seq && at - jitterMs <= now) {
                            w.marker = p == 0;
                            w.payload = payload.data() + p * kPacket;
                            w.size = kPacket;
                            return true;
                        }
                    }
                    return false;
                },
                out);
        }
        if (playedByTick)
            (*playedByTick)[now] = out.size();
    }
    return out;
}

} // namespace

TEST(G711Concealer, EverythingIsPlayedAtItsPlaceAndLostPacketsAreFilledWithSound) {
    const int packets = 100;
    const auto pcm = voice(packets);
    for (auto law : {G711Concealer::Law::Mu, G711Concealer::Law::A}) {
        SCOPED_TRACE(law == G711Concealer::Law::Mu ? "u-law" : "A-law");
        const auto payload = encode(law, pcm);
        const auto clean = decoded(law, payload);
        {
            // A clean line: exactly what was sent.
            G711Concealer c(law);
            EXPECT_EQ(play(c, payload, packets, {}), clean);
        }
        // Single losses, a burst of three, a packet a little late, one that comes after the
        // packet following it, a duplicate.
        Line line;
        line.lost = {10, 30, 31, 32, 60};
        line.lateMs = {{45, 5}, {70, 30}};
        line.duplicated = {50};
        G711Concealer c(law);
        const auto out = play(c, payload, packets, line);

        ASSERT_EQ(out.size(), clean.size()) << "played ahead of or behind the sender's timeline";
        for (int p : {0, 5, 20, 40, 45, 50, 55, 65, 90})
            EXPECT_TRUE(samePacket(out, p * kPacket, clean, p)) << "packet " << p << " not at its place";
        // A single lost packet: sound of about the level around it, not a gap.
        for (int p : {10, 60, 70}) {
            const double around = energy(clean, p * kPacket, kPacket);
            EXPECT_GT(energy(out, p * kPacket, kPacket), around * 0.25) << "packet " << p;
            EXPECT_LT(energy(out, p * kPacket, kPacket), around * 2.0) << "packet " << p;
        }
        // A burst starts with sound and fades rather than stopping dead.
        EXPECT_GT(energy(out, 30 * kPacket, kPacket / 2), energy(clean, 30 * kPacket, kPacket / 2) * 0.5);
        // The packet that came after its successor was filled in, and not played as well.
        EXPECT_EQ(c.concealedSamples(), static_cast<long long>(6 * kPacket));
        EXPECT_EQ(c.givenBackSamples(), 0);
    }
}

TEST(G711Concealer, ALossIsFilledWhenItWasDueIfThePacketAfterItIsAlreadyWaiting) {
    // The same line as above, with a 40 ms jitter buffer to look into: each fill is the same
    // sound at the same place, but comes when the lost packet was due, not a packet later, so
    // the speaker does not run dry. A burst is filled once the packet after it has arrived; the
    // packet that was only late is waited for, not filled in.
    const int packets = 100;
    const auto pcm = voice(packets);
    const auto payload = encode(G711Concealer::Law::Mu, pcm);
    Line line;
    line.lost = {10, 30, 31, 32, 60};
    line.lateMs = {{45, 5}, {70, 30}};
    line.duplicated = {50};
    G711Concealer late(G711Concealer::Law::Mu);
    std::map<int64_t, size_t> lateByTick;
    const auto lateOut = play(late, payload, packets, line, 0, &lateByTick);
    G711Concealer onTime(G711Concealer::Law::Mu);
    std::map<int64_t, size_t> onTimeByTick;
    EXPECT_EQ(play(onTime, payload, packets, line, 40, &onTimeByTick), lateOut);
    EXPECT_EQ(onTime.concealedSamples(), late.concealedSamples());
    EXPECT_EQ(onTime.filledWhenDueSamples(), static_cast<long long>(5 * kPacket));

    auto due = [](int p) { return int64_t{1000} + 20 * p; };
    for (int p : {10, 60}) {
        EXPECT_EQ(onTimeByTick[due(p)], (p + 1) * kPacket) << "packet " << p << " not filled when due";
        EXPECT_EQ(lateByTick[due(p)], p * kPacket);
    }
    // The burst: the packet after it arrives 40 ms before it is handed over, 20 ms after the
    // burst's first packet was due.
    EXPECT_EQ(onTimeByTick[due(31)], 33 * kPacket);
    EXPECT_EQ(lateByTick[due(31)], 30 * kPacket);
    // The packet 30 ms late was in the buffer when due: nothing is filled in before it is given
    // up for the packet after it.
    EXPECT_EQ(onTimeByTick[due(70)], 70 * kPacket);
    EXPECT_EQ(onTimeByTick[due(71)], 72 * kPacket);
}

TEST(G711Concealer, DelayALossAddedIsGivenBackInPausesOnlyKeepingOnePacketForTheNext) {
    // Speech of 200 ms every second, as the bench's chirps; a burst of three packets lost in the
    // second talk spurt while nothing was waiting: the call is 60 ms slower afterwards.
    auto pause = [](int p) { return p % 50 >= 10; };
    const int packets = 250;
    const auto pcm = voice(packets, pause);
    const auto payload = encode(G711Concealer::Law::Mu, pcm);
    const auto clean = decoded(G711Concealer::Law::Mu, payload);
    Line line;
    line.lost = {52, 53, 54};
    G711Concealer c(G711Concealer::Law::Mu);
    const auto out = play(c, payload, packets, line);

    // 60 ms were filled in; of the delay that added, 40 ms were given back, 20 kept.
    EXPECT_EQ(c.concealedSamples(), static_cast<long long>(3 * kPacket));
    EXPECT_EQ(c.givenBackSamples(), static_cast<long long>(2 * kPacket));
    EXPECT_EQ(out.size(), clean.size() - 2 * kPacket);
    // Every packet of speech outside the loss is played whole, in order; what was left out was
    // pause. Before the loss nothing moved.
    size_t at = 0;
    for (int p = 0; p < packets; ++p) {
        if (pause(p) || (p >= 52 && p <= 55))
            continue;
        if (p < 52) {
            EXPECT_TRUE(samePacket(out, p * kPacket, clean, p)) << "packet " << p;
            continue;
        }
        // After it, each talk spurt starts up to two packets earlier than it was sent.
        if (p % 50 == 0 || p == 56) {
            at = 0;
            for (size_t back : {size_t{0}, kPacket, 2 * kPacket})
                if (samePacket(out, p * kPacket - back, clean, p))
                    at = p * kPacket - back;
            ASSERT_NE(at, 0u) << "speech of packet " << p << " lost or cut";
        }
        EXPECT_TRUE(samePacket(out, at, clean, p)) << "packet " << p;
        at += kPacket;
    }
}

TEST(G711Concealer, SilenceFromTheFarEndAndANewStreamAreNotFilledIn) {
    const auto pcm = voice(40);
    const auto payload = encode(G711Concealer::Law::Mu, pcm);
    const auto clean = decoded(G711Concealer::Law::Mu, payload);

    G711Concealer c(G711Concealer::Law::Mu);
    std::vector<int16_t> out;
    int64_t now = 1000;
    auto send = [&](uint32_t ts, uint16_t seq, bool marker, int p) {
        c.packet(ts, seq, marker, payload.data() + p * kPacket, kPacket, now, out);
        now += 20;
    };
    for (int p = 0; p < 10; ++p)
        send(8000 + p * kPacket, static_cast<uint16_t>(100 + p), p == 0, p);
    // The far end stops sending for a second without losing anything (its next packet follows
    // on) and starts its next talk spurt, with or without a marker: played as it comes.
    now += 1000;
    send(8000 + 10 * kPacket + 8000, 110, true, 10);
    now += 1000;
    send(8000 + 11 * kPacket + 16000, 111, false, 11);
    // A new stream (the far end started over, timestamps and numbers anywhere): played as is.
    send(123, 7, false, 12);
    send(123 + kPacket, 8, false, 13);
    EXPECT_EQ(out, std::vector<int16_t>(clean.begin(), clean.begin() + 14 * kPacket));
    EXPECT_EQ(c.concealedSamples(), 0);
}

TEST(G711Concealer, ALossWhereTheVoiceStartsOrChangesIsFilledFromTheVoiceAfterIt) {
    // Silence, then speech whose first packet is lost: there is nothing before the gap to
    // continue, so the fill comes from the packet after it, and grows into it without a seam.
    auto pause = [](int p) { return p < 10; };
    const int packets = 20;
    const auto pcm = voice(packets, pause);
    const auto payload = encode(G711Concealer::Law::Mu, pcm);
    const auto clean = decoded(G711Concealer::Law::Mu, payload);
    Line line;
    line.lost = {10};
    G711Concealer c(G711Concealer::Law::Mu);
    const auto out = play(c, payload, packets, line);
    ASSERT_EQ(out.size(), clean.size());
    const size_t gap = 10 * kPacket;
    EXPECT_GT(energy(out, gap + kPacket * 3 / 4, kPacket / 4),
              energy(clean, gap + kPacket * 3 / 4, kPacket / 4) * 0.5)
        << "the end of the gap is not filled from the speech after it";
    EXPECT_LT(energy(out, gap, kPacket / 4), energy(out, gap + kPacket * 3 / 4, kPacket / 4))
        << "the fill does not grow from the silence before it";
    // No seam into the next packet: the step between the last filled sample and the first one
    // played is no larger than the signal's own steps.
    int maxStep = 0;
    for (size_t i = gap + kPacket + 1; i < out.size(); ++i)
        maxStep = std::max(maxStep, std::abs(out[i] - out[i - 1]));
    EXPECT_LE(std::abs(out[gap + kPacket] - out[gap + kPacket - 1]), maxStep);
    EXPECT_TRUE(samePacket(out, gap + kPacket, clean, 11));
}

TEST(JitterLineWatch, TellsTheLineIsLateOnlyOnceTheBufferHeldTooMuchThroughTwoSeconds) {
    using rtc::lin::JitterLineWatch;
    constexpr int32_t target = 320; // 40 ms
    // Ticks of 10 ms with the buffer holding, second by second, `extra` timestamp units over its
    // target; what the watch said, and at which tick.
    auto watch = [](std::vector<int32_t> extra) {
        JitterLineWatch w;
        std::vector<std::pair<int, int64_t>> said;
        for (size_t second = 0; second < extra.size(); ++second)
            for (int i = 0; i < 100; ++i) {
                const int tick = static_cast<int>(second) * 100 + i;
                const auto span =
                    static_cast<uint32_t>(target + extra[second] - static_cast<int32_t>(kPacket));
                if (const int64_t late = w.tick(tick * 10, span, kPacket, target))
                    said.emplace_back(tick, late);
            }
        return said;
    };
    using Said = std::vector<std::pair<int, int64_t>>;
    EXPECT_EQ(watch({48, 48, 48, 48, 48}), Said{}) << "a buffer on time";
    EXPECT_EQ(watch({-300, -300, -300, -300}), Said{}) << "a buffer grown for jitter";
    EXPECT_EQ(watch({240, 48, 48, 240, 48, 48}), Said{}) << "a burst now and then is not a late line";
    // Late by 30, then 25 ms: moved by the lesser, keeping 8 ms, once two seconds have shown it;
    // then two more seconds are waited for.
    const Said said = watch({240, 200, 240, 240, 240});
    ASSERT_EQ(said.size(), 2u);
    EXPECT_EQ(said[0].second, 200 - JitterLineWatch::kKeptTs);
    EXPECT_NEAR(said[0].first, 200, 2);
    EXPECT_NEAR(said[1].first, 400, 4);
    // However late, it is moved by 40 ms at a time: each move is filled in with a guess.
    const Said far = watch({2000, 2000, 2000});
    ASSERT_EQ(far.size(), 1u);
    EXPECT_EQ(far[0].second, JitterLineWatch::kMostMovedTs);
}

// Which codec a call gets, against SIPp far ends: one that answers Opus and one that takes only
// G.711, as the service's own servers may. The engine offers Opus first, with in-band FEC asked
// for, and a call never fails for want of it.
#include "integration/test_engine_support.h"

#include "lab/Kamailio.h"
#include "lab/LabProcess.h"
#include "lab/Pulse.h"
#include "lab/Sipp.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>
#include <memory>

using namespace enginetest;
using rtc::ComPtr;

namespace {

struct Offer {
    QList<int> payloadTypes; // in the order of the m=audio line
    int opus = -1;           // the payload type offered for opus/48000, -1 when none
    bool opusFec = false;    // its fmtp asks for in-band FEC
};

// The audio offer of the first INVITE in SIPp's message log.
Offer offerOf(const QString& messages) {
    Offer o;
    const qsizetype invite = messages.indexOf(QStringLiteral("INVITE sip:"));
    if (invite < 0)
        return o;
    const QString text = messages.mid(invite);
    const auto m = QRegularExpression(QStringLiteral("m=audio \\d+ RTP/\\S+ ([0-9 ]+)")).match(text);
    if (!m.hasMatch())
        return o;
    for (const QString& pt : m.captured(1).split(QLatin1Char(' '), Qt::SkipEmptyParts))
        o.payloadTypes << pt.toInt();
    const auto opus = QRegularExpression(QStringLiteral("a=rtpmap:(\\d+) opus/48000")).match(text);
    if (opus.hasMatch()) {
        o.opus = opus.captured(1).toInt();
        o.opusFec = QRegularExpression(QStringLiteral("a=fmtp:%1 [^\\r\\n]*useinbandfec=1").arg(o.opus))
                        .match(text)
                        .hasMatch();
    }
    return o;
}

class EngineCodecs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        uasPort = lab::freePort();
        kamailio = std::make_unique<lab::Kamailio>();
        if (!kamailio->start(uasPort))
            kamailio.reset();
    }
    static void TearDownTestSuite() { kamailio.reset(); }

    void SetUp() override {
        ASSERT_TRUE(lab::Pulse::shared().running());
        ASSERT_TRUE(kamailio) << "kamailio did not start";
        ASSERT_TRUE(engine.ok());
        profile = engine.login(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio->address());
        ASSERT_TRUE(profile);
        ASSERT_TRUE(rtp.bind());
    }

    void TearDown() override {
        if (session)
            session->Terminate(rtc::RTCTR_NORMAL);
        engine.waitFor([&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_DISCONNECTED) > 0; },
                       3000);
    }

    // Calls a far end running `scenario` whose SDP sends the media to the test's RTP peer.
    void callFarEnd(const QString& scenario) {
        lab::SippOptions o;
        o.scenario = scenario;
        o.localPort = uasPort;
        o.advertisedMediaPort = rtp.port();
        ASSERT_TRUE(peer.start(o) && peer.waitUntilReady());
        ASSERT_EQ(
            engine.client()->CreateSession(rtc::RTCST_PC_TO_PC, QString(), profile.get(), 0, session.put()),
            rtc::S_OK);
        ComPtr<rtc::IRTCParticipant> participant;
        ASSERT_EQ(session->AddParticipant(QStringLiteral("sip:4021@") + kamailio->address(), QString(),
                                          participant.put()),
                  rtc::S_OK);
        ASSERT_TRUE(engine.waitFor(
            [&] {
                rtp.poll();
                return countOf(engine.sink().sessionStates(), rtc::RTCSS_CONNECTED) > 0;
            },
            8000))
            << peer.errors().toStdString();
    }

    bool spinUntil(const std::function<bool()>& pred, int ms) {
        return engine.waitFor(
            [&] {
                rtp.poll();
                return pred();
            },
            ms);
    }

    static inline int uasPort = 0;
    static inline std::unique_ptr<lab::Kamailio> kamailio;
    TestEngine engine;
    ComPtr<rtc::IRTCProfile> profile;
    ComPtr<rtc::IRTCSession> session;
    RtpPeer rtp;
    lab::Sipp peer;
};

TEST_F(EngineCodecs, OpusWithInBandFecIsOfferedFirstAndCarriesTheCallBothWays) {
    // The far end sends back what it gets, late enough that the echo canceller cannot take it
    // for the room's echo of the speaker.
    rtp.setEchoDelay(1500);
    SpeakerRecorder speaker;
    ASSERT_TRUE(speaker.start());
    ASSERT_NO_FATAL_FAILURE(callFarEnd(QStringLiteral("uas_answer_opus.xml")));

    const Offer offer = offerOf(peer.messages());
    ASSERT_FALSE(offer.payloadTypes.isEmpty()) << peer.messages().toStdString();
    ASSERT_GE(offer.opus, 0) << "no Opus offered";
    EXPECT_EQ(offer.payloadTypes.first(), offer.opus) << "Opus is not the first choice";
    EXPECT_TRUE(offer.opusFec) << "in-band FEC not asked for";
    EXPECT_TRUE(offer.payloadTypes.contains(0)) << "G.711 (PCMU) not offered";

    // The microphone's tone goes out as Opus, as voice rather than silence frames.
    ASSERT_TRUE(spinUntil([&] { return rtp.packetsOfType(offer.opus) >= 50; }, 5000))
        << "Opus packets sent: " << rtp.packetsOfType(offer.opus);
    EXPECT_EQ(rtp.packetsOfType(0), 0) << "PCMU sent in an Opus call";
    EXPECT_GT(rtp.meanPayloadBytes(offer.opus), 20.0);

    // What comes back as Opus is decoded and played: the echo of the call's first seconds, sent
    // before the speaker played anything. Heard in a window of 200 ms within a bound (when it
    // reaches the speaker depends on the machine's load).
    speaker.takeLevelDb();
    QElapsedTimer clock;
    clock.start();
    double loudest = -120;
    while (loudest <= -40 && clock.elapsed() < 10000) {
        spinUntil([] { return false; }, 200);
        loudest = std::max(loudest, speaker.takeLevelDb());
    }
    EXPECT_GT(loudest, -40) << "the far end's Opus is not heard";
}

TEST_F(EngineCodecs, AFarEndThatTakesOnlyG711GetsG711) {
    ASSERT_NO_FATAL_FAILURE(callFarEnd(QStringLiteral("uas_answer.xml")));
    const Offer offer = offerOf(peer.messages());
    EXPECT_GE(offer.opus, 0) << "no Opus offered";

    ASSERT_TRUE(spinUntil([&] { return rtp.audioPackets() >= 50; }, 5000))
        << "PCMU packets sent: " << rtp.audioPackets();
    EXPECT_EQ(rtp.packetsOfType(offer.opus), 0) << "Opus sent to a far end that did not take it";
    EXPECT_GT(rtp.takeVoiceLevelDb(), -50) << "no voice in the PCMU the engine sent";
}

} // namespace

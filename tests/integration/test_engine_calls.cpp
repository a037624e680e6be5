// Outgoing calls of the liblinphone engine: through kamailio to a SIPp peer that answers (with
// RFC 4733 DTMF checked on the wire) or keeps ringing until the engine cancels.
#include "integration/test_engine_support.h"

#include "lab/Kamailio.h"
#include "lab/Sipp.h"
#include "rtc/linphone/PulseGuard.h"

#include <gtest/gtest.h>

#include <memory>

using namespace enginetest;
using rtc::ComPtr;

namespace {

class EngineOutgoingCall : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        uasPort = lab::freePort();
        kamailio = std::make_unique<lab::Kamailio>();
        if (!kamailio->start(uasPort))
            kamailio.reset();
    }
    static void TearDownTestSuite() { kamailio.reset(); }

    void SetUp() override {
        ASSERT_TRUE(kamailio) << "kamailio did not start";
        ASSERT_TRUE(engine.ok());
        profile = engine.login(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio->address());
        ASSERT_TRUE(profile) << "alice did not register";
    }

    bool startPeer(const QString& scenario, int advertisedMediaPort = 0) {
        lab::SippOptions o;
        o.scenario = scenario;
        o.localPort = uasPort;
        o.advertisedMediaPort = advertisedMediaPort;
        o.timeoutSec = 20;
        return peer.start(o) && peer.waitUntilReady();
    }

    ComPtr<rtc::IRTCSession> newSession() const {
        ComPtr<rtc::IRTCSession> session;
        EXPECT_EQ(
            engine.client()->CreateSession(rtc::RTCST_PC_TO_PC, QString(), profile.get(), 0, session.put()),
            rtc::S_OK);
        return session;
    }

    QString number(const QString& n) const { return QStringLiteral("sip:%1@%2").arg(n, kamailio->address()); }

    bool quietFor(int ms) {
        const std::size_t before = engine.sink().events.size();
        engine.waitFor([] { return false; }, ms);
        return engine.sink().events.size() == before;
    }

    static inline int uasPort = 0;
    static inline std::unique_ptr<lab::Kamailio> kamailio;
    TestEngine engine;
    ComPtr<rtc::IRTCProfile> profile;
    lab::Sipp peer;
};

TEST_F(EngineOutgoingCall, AnsweredCallCarriesDtmfAndEndsOnceWhenHungUp) {
    RtpPeer rtp;
    ASSERT_TRUE(rtp.bind());
    ASSERT_TRUE(startPeer(QStringLiteral("uas_answer.xml"), rtp.port()));

    const long long guardedBefore = pulseguard::guardedUnrefs();
    auto session = newSession();
    ComPtr<rtc::IRTCParticipant> participant;
    ASSERT_EQ(session->AddParticipant(number(QStringLiteral("5551234")), QString(), participant.put()),
              rtc::S_OK);
    ASSERT_TRUE(participant);
    QString uri;
    ASSERT_EQ(participant->get_UserURI(&uri), rtc::S_OK);
    EXPECT_EQ(uri.toStdString(), number(QStringLiteral("5551234")).toStdString());

    ASSERT_TRUE(engine.waitFor(
        [&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_CONNECTED) > 0; }, 5000))
        << peer.errors().toStdString();
    EXPECT_EQ(engine.sink().sessionStates(session.get()),
              (std::vector<int>{rtc::RTCSS_INPROGRESS, rtc::RTCSS_CONNECTED}));
    EXPECT_EQ(engine.sink().sessionStates(), engine.sink().sessionStates(session.get()))
        << "every event names the session of the call";

    ComPtr<rtc::IRTCEnumParticipants> list;
    ASSERT_EQ(session->EnumerateParticipants(list.put()), rtc::S_OK);
    ComPtr<rtc::IRTCParticipant> listed;
    rtc::ULONG fetched = 0;
    ASSERT_EQ(list->Next(1, listed.put(), &fetched), rtc::S_OK);
    ASSERT_EQ(fetched, 1u);
    ASSERT_EQ(listed->get_UserURI(&uri), rtc::S_OK);
    EXPECT_EQ(uri.toStdString(), number(QStringLiteral("5551234")).toStdString());

    // Typed quickly: the digits must still arrive whole and in order.
    for (rtc::RTC_DTMF tone : {rtc::RTC_DTMF(1), rtc::RTC_DTMF(2), rtc::RTC_DTMF(3), rtc::RTC_DTMF_STAR,
                               rtc::RTC_DTMF_POUND, rtc::RTC_DTMF_0, rtc::RTC_DTMF_9})
        EXPECT_EQ(engine.client()->SendDTMF(tone), rtc::S_OK);
    EXPECT_TRUE(engine.waitFor(
        [&] {
            rtp.poll();
            return rtp.digits().size() >= 7;
        },
        6000));
    EXPECT_EQ(rtp.digits().toStdString(), "123*#09");
    EXPECT_GT(rtp.audioPackets(), 0) << "no voice reached the advertised media port; packets: "
                                     << rtp.packets();
    EXPECT_EQ(engine.client()->SendDTMF(static_cast<rtc::RTC_DTMF>(12)), rtc::E_INVALIDARG);

    ASSERT_EQ(session->Terminate(rtc::RTCTR_NORMAL), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor(
        [&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_DISCONNECTED) > 0; }, 5000));
    EXPECT_TRUE(quietFor(500));
    EXPECT_EQ(engine.sink().sessionStates(session.get()),
              (std::vector<int>{rtc::RTCSS_INPROGRESS, rtc::RTCSS_CONNECTED, rtc::RTCSS_DISCONNECTED}));
    EXPECT_EQ(peer.waitForExit(5000), 0) << "the peer did not see the BYE\n" << peer.errors().toStdString();
    // The PulseAudio driver let go of the call's streams under its main loop's lock: without it,
    // a corrupted libpulse queue aborts the program sooner or later.
    EXPECT_TRUE(pulseguard::active());
    EXPECT_GE(pulseguard::guardedUnrefs() - guardedBefore, 2) << "the microphone's and the speaker's streams";

    // With the call gone, neither tones nor hanging up have anything to act on.
    EXPECT_TRUE(rtc::Failed(engine.client()->SendDTMF(rtc::RTC_DTMF_0)));
    EXPECT_TRUE(rtc::Failed(session->Terminate(rtc::RTCTR_NORMAL)));
    EXPECT_TRUE(quietFor(200));
}

TEST_F(EngineOutgoingCall, HangingUpWhileTheFarEndRingsCancelsTheCall) {
    ASSERT_TRUE(startPeer(QStringLiteral("uas_ring.xml")));
    auto session = newSession();
    ComPtr<rtc::IRTCParticipant> participant;
    ASSERT_EQ(session->AddParticipant(number(QStringLiteral("5550001")), QString(), participant.put()),
              rtc::S_OK);
    ASSERT_TRUE(engine.waitFor([&] { return !engine.sink().sessionStates().empty(); }, 2000));
    // Ringing at the far end before the user gives up.
    ASSERT_TRUE(lab::waitUntil([&] { return peer.errors().contains(QStringLiteral("180 Ringing")); }, 5000));
    engine.waitFor([] { return false; }, 300);
    EXPECT_EQ(engine.sink().sessionStates(session.get()), (std::vector<int>{rtc::RTCSS_INPROGRESS}));

    // One call per session, and an outgoing call cannot be answered.
    ComPtr<rtc::IRTCParticipant> second;
    EXPECT_EQ(session->AddParticipant(number(QStringLiteral("5550002")), QString(), second.put()),
              rtc::RTC_E_INVALID_SESSION_STATE);
    EXPECT_FALSE(second);
    EXPECT_EQ(session->Answer(), rtc::RTC_E_INVALID_SESSION_STATE);

    ASSERT_EQ(session->Terminate(rtc::RTCTR_NORMAL), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor(
        [&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_DISCONNECTED) > 0; }, 5000));
    EXPECT_TRUE(quietFor(500));
    EXPECT_EQ(engine.sink().sessionStates(session.get()),
              (std::vector<int>{rtc::RTCSS_INPROGRESS, rtc::RTCSS_DISCONNECTED}));
    EXPECT_EQ(peer.waitForExit(5000), 0) << "the peer did not see the CANCEL\n"
                                         << peer.errors().toStdString();
}

TEST_F(EngineOutgoingCall, RefusesCallsItCannotPlace) {
    auto session = newSession();
    ComPtr<rtc::IRTCParticipant> participant;
    EXPECT_EQ(session->AddParticipant(QStringLiteral("not an address"), QString(), participant.put()),
              rtc::RTC_E_INVALID_SIP_URL);
    EXPECT_EQ(session->AddParticipant(QString(), QString(), participant.put()), rtc::RTC_E_INVALID_SIP_URL);
    EXPECT_FALSE(participant);
    EXPECT_TRUE(rtc::Failed(engine.client()->SendDTMF(rtc::RTC_DTMF(1)))) << "no call, no tone";

    // A profile that was never enabled has no account to call from.
    auto unused =
        engine.createProfile(QStringLiteral("bob"), QStringLiteral("bob-secret"), kamailio->address());
    ASSERT_TRUE(unused);
    ComPtr<rtc::IRTCSession> orphan;
    ASSERT_EQ(engine.client()->CreateSession(rtc::RTCST_PC_TO_PC, QString(), unused.get(), 0, orphan.put()),
              rtc::S_OK);
    EXPECT_TRUE(
        rtc::Failed(orphan->AddParticipant(number(QStringLiteral("5551234")), QString(), participant.put())));
    EXPECT_FALSE(participant);
    EXPECT_TRUE(rtc::Failed(orphan->Terminate(rtc::RTCTR_NORMAL)));

    // An empty session lists nobody.
    ComPtr<rtc::IRTCEnumParticipants> list;
    ASSERT_EQ(orphan->EnumerateParticipants(list.put()), rtc::S_OK);
    rtc::ULONG fetched = 7;
    EXPECT_EQ(list->Next(1, participant.put(), &fetched), rtc::S_FALSE);
    EXPECT_EQ(fetched, 0u);

    EXPECT_TRUE(quietFor(200)) << "refused calls raise no session events";
    EXPECT_TRUE(engine.sink().sessionStates().empty());
}

} // namespace

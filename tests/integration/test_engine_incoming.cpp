// Incoming calls of the liblinphone engine: SIPp callers reaching registered alice through
// kamailio (answered, refused busy, refused, given up), or the engine's own port directly.
#include "integration/test_engine_support.h"

#include "lab/Kamailio.h"
#include "lab/Sipp.h"

#include <gtest/gtest.h>

#include <memory>

using namespace enginetest;
using rtc::ComPtr;

namespace {

// The caller's address as the engine should report it.
QString callerUri(const lab::Sipp& caller) {
    return QStringLiteral("sip:5551000@127.0.0.1:%1").arg(caller.localPort());
}

QString remoteUri(rtc::IRTCSession* session) {
    ComPtr<rtc::IRTCEnumParticipants> list;
    if (rtc::Failed(session->EnumerateParticipants(list.put())))
        return QStringLiteral("<no enumeration>");
    ComPtr<rtc::IRTCParticipant> participant;
    rtc::ULONG fetched = 0;
    if (list->Next(1, participant.put(), &fetched) != rtc::S_OK || fetched != 1)
        return QStringLiteral("<no participant>");
    QString uri;
    if (rtc::Failed(participant->get_UserURI(&uri)))
        return QStringLiteral("<no uri>");
    return uri;
}

bool quietFor(const TestEngine& engine, int ms) {
    const std::size_t before = engine.sink().events.size();
    engine.waitFor([] { return false; }, ms);
    return engine.sink().events.size() == before;
}

// Waits for the first incoming-call event and returns its session.
ComPtr<rtc::IRTCSession> waitForIncoming(const TestEngine& engine, int timeoutMs = 5000) {
    engine.waitFor([&] { return bool(engine.sink().firstSessionIn(rtc::RTCSS_INCOMING)); }, timeoutMs);
    return engine.sink().firstSessionIn(rtc::RTCSS_INCOMING);
}

bool waitForDisconnect(const TestEngine& engine, int timeoutMs = 5000) {
    return engine.waitFor([&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_DISCONNECTED) > 0; },
                          timeoutMs);
}

class EngineIncomingCall : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        kamailio = std::make_unique<lab::Kamailio>();
        if (!kamailio->start(lab::freePort()))
            kamailio.reset();
    }
    static void TearDownTestSuite() { kamailio.reset(); }

    void SetUp() override {
        ASSERT_TRUE(kamailio) << "kamailio did not start";
        ASSERT_TRUE(engine.ok());
        profile = engine.login(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio->address());
        ASSERT_TRUE(profile) << "alice did not register";
    }

    bool call(const QString& scenario, int callLengthMs = 1000) {
        lab::SippOptions o;
        o.scenario = scenario;
        o.remote = kamailio->address();
        o.service = QStringLiteral("alice");
        o.callLengthMs = callLengthMs;
        o.timeoutSec = 20;
        return caller.start(o);
    }

    static inline std::unique_ptr<lab::Kamailio> kamailio;
    TestEngine engine;
    ComPtr<rtc::IRTCProfile> profile;
    lab::Sipp caller;
};

TEST_F(EngineIncomingCall, AnsweredCallConnectsAndEndsOnceWhenTheCallerHangsUp) {
    ASSERT_TRUE(call(QStringLiteral("uac_answer.xml"), 1500));
    auto session = waitForIncoming(engine);
    ASSERT_TRUE(session) << caller.errors().toStdString();
    EXPECT_EQ(remoteUri(session.get()).toStdString(), callerUri(caller).toStdString());
    EXPECT_EQ(engine.sink().sessionStates(session.get()), (std::vector<int>{rtc::RTCSS_INCOMING}));

    ASSERT_EQ(session->Answer(), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor(
        [&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_CONNECTED) > 0; }, 3000));
    // A second answer has nothing left to answer.
    EXPECT_EQ(session->Answer(), rtc::RTC_E_INVALID_SESSION_STATE);

    ASSERT_TRUE(waitForDisconnect(engine)) << caller.errors().toStdString();
    EXPECT_TRUE(quietFor(engine, 500));
    EXPECT_EQ(engine.sink().sessionStates(session.get()),
              (std::vector<int>{rtc::RTCSS_INCOMING, rtc::RTCSS_ANSWERING, rtc::RTCSS_CONNECTED,
                                rtc::RTCSS_DISCONNECTED}));
    EXPECT_EQ(engine.sink().sessionStates(), engine.sink().sessionStates(session.get()));
    EXPECT_EQ(caller.waitForExit(5000), 0) << caller.errors().toStdString();
    // The caller stays known after the call.
    EXPECT_EQ(remoteUri(session.get()).toStdString(), callerUri(caller).toStdString());
}

TEST_F(EngineIncomingCall, BusyWhileRingingRefusesWith486) {
    ASSERT_TRUE(call(QStringLiteral("uac_decline.xml")));
    auto session = waitForIncoming(engine);
    ASSERT_TRUE(session) << caller.errors().toStdString();
    ASSERT_EQ(session->Terminate(rtc::RTCTR_BUSY), rtc::S_OK);
    ASSERT_TRUE(waitForDisconnect(engine));
    EXPECT_TRUE(quietFor(engine, 500));
    EXPECT_EQ(engine.sink().sessionStates(session.get()),
              (std::vector<int>{rtc::RTCSS_INCOMING, rtc::RTCSS_DISCONNECTED}));
    EXPECT_EQ(caller.waitForExit(5000), 0) << "the caller did not get 486\n" << caller.errors().toStdString();
}

TEST_F(EngineIncomingCall, NormalTerminateWhileRingingDeclines) {
    ASSERT_TRUE(call(QStringLiteral("uac_rejected.xml")));
    auto session = waitForIncoming(engine);
    ASSERT_TRUE(session) << caller.errors().toStdString();
    ASSERT_EQ(session->Terminate(rtc::RTCTR_NORMAL), rtc::S_OK);
    ASSERT_TRUE(waitForDisconnect(engine));
    EXPECT_TRUE(quietFor(engine, 300));
    EXPECT_EQ(countOf(engine.sink().sessionStates(session.get()), rtc::RTCSS_DISCONNECTED), 1);
    EXPECT_EQ(caller.waitForExit(5000), 0) << "the caller did not get 603\n" << caller.errors().toStdString();
}

TEST_F(EngineIncomingCall, CallerGivingUpEndsTheSessionOnce) {
    ASSERT_TRUE(call(QStringLiteral("uac_cancel.xml")));
    auto session = waitForIncoming(engine);
    ASSERT_TRUE(session) << caller.errors().toStdString();
    // The caller cancels 1.5 s after the ringing.
    ASSERT_TRUE(waitForDisconnect(engine, 6000)) << caller.errors().toStdString();
    EXPECT_TRUE(quietFor(engine, 500));
    EXPECT_EQ(engine.sink().sessionStates(session.get()),
              (std::vector<int>{rtc::RTCSS_INCOMING, rtc::RTCSS_DISCONNECTED}));
    EXPECT_EQ(caller.waitForExit(5000), 0) << caller.errors().toStdString();
    EXPECT_EQ(session->Answer(), rtc::RTC_E_INVALID_SESSION_STATE);
    EXPECT_EQ(session->Terminate(rtc::RTCTR_BUSY), rtc::RTC_E_INVALID_SESSION_STATE);
}

// Calls straight to the engine's own SIP port, without registrar or registration.
TEST(EngineDirectCall, InviteToTheEnginePortRaisesAnIncomingSession) {
    const int port = lab::freePort();
    ASSERT_NE(port, 0);
    TestEngine engine(port);
    ASSERT_TRUE(engine.ok());

    lab::Sipp caller;
    lab::SippOptions o;
    o.scenario = QStringLiteral("uac_decline.xml");
    o.remote = QStringLiteral("127.0.0.1:%1").arg(port);
    o.service = QStringLiteral("softphone");
    o.timeoutSec = 20;
    ASSERT_TRUE(caller.start(o));

    auto session = waitForIncoming(engine);
    ASSERT_TRUE(session) << caller.errors().toStdString();
    const auto events = engine.sink().ofType(rtc::RTCE_SESSION_STATE_CHANGE);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front().state, rtc::RTCSS_INCOMING);
    EXPECT_EQ(remoteUri(session.get()).toStdString(), callerUri(caller).toStdString());
    EXPECT_TRUE(engine.sink().ofType(rtc::RTCE_REGISTRATION_STATE_CHANGE).empty());

    ASSERT_EQ(session->Terminate(rtc::RTCTR_BUSY), rtc::S_OK);
    EXPECT_TRUE(waitForDisconnect(engine));
    EXPECT_EQ(caller.waitForExit(5000), 0) << caller.errors().toStdString();
}

TEST(EngineDirectCall, NotListeningDeclinesWithoutEvents) {
    const int port = lab::freePort();
    ASSERT_NE(port, 0);
    TestEngine engine(port);
    ASSERT_TRUE(engine.ok());
    ASSERT_EQ(engine.client()->put_ListenForIncomingSessions(rtc::RTCLM_NONE), rtc::S_OK);

    lab::Sipp caller;
    lab::SippOptions o;
    o.scenario = QStringLiteral("uac_rejected.xml");
    o.remote = QStringLiteral("127.0.0.1:%1").arg(port);
    o.service = QStringLiteral("softphone");
    o.timeoutSec = 20;
    ASSERT_TRUE(caller.start(o));
    EXPECT_EQ(caller.waitForExit(8000), 0) << "the caller was not declined\n"
                                           << caller.errors().toStdString();
    EXPECT_TRUE(quietFor(engine, 300));
    EXPECT_TRUE(engine.sink().events.empty());
}

} // namespace

// Provisioning and registration of the liblinphone engine against a real registrar (kamailio
// with digest authentication on loopback).
#include "integration/test_engine_support.h"

#include "engine/Registration.h"

#include "lab/Kamailio.h"
#include "lab/Sipp.h"
#include "rtc/linphone/LinphoneClient.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

using namespace enginetest;
using rtc::ComPtr;

namespace {

// How often the registrar has accepted a registration of `user` so far.
qsizetype registrations(const lab::Kamailio& k, const QString& user) {
    return k.output().count(QStringLiteral("REGISTER sip:%1@127.0.0.1 saved (Expires '600')").arg(user));
}

// A password a user may well type, with every character XML must escape.
const QString kSpecialPassword = QStringLiteral("p&<>\"'x;1");

class EngineRegistration : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        kamailio = std::make_unique<lab::Kamailio>();
        auto accounts = lab::Kamailio::defaultAccounts();
        accounts.push_back({QStringLiteral("carol"), kSpecialPassword});
        // No call goes to a gateway here: any port will do.
        if (!kamailio->start(lab::freePort(), accounts))
            kamailio.reset();
    }
    static void TearDownTestSuite() { kamailio.reset(); }

    void SetUp() override {
        ASSERT_TRUE(kamailio) << "kamailio did not start";
        ASSERT_TRUE(engine.ok());
    }

    // Spins the loop for `ms` and tells whether any event arrived meanwhile.
    bool quietFor(int ms) {
        const std::size_t before = engine.sink().events.size();
        engine.waitFor([] { return false; }, ms);
        return engine.sink().events.size() == before;
    }

    static inline std::unique_ptr<lab::Kamailio> kamailio;
    TestEngine engine;
};

TEST_F(EngineRegistration, RegistersWithTheRightPasswordAndUnregistersWhenDisabled) {
    auto profile =
        engine.createProfile(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio->address());
    ASSERT_TRUE(profile);
    ASSERT_EQ(engine.enable(profile.get()), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor([&] { return engine.sink().registrationStates().size() >= 2; }, 5000));
    EXPECT_EQ(engine.sink().registrationStates(),
              (std::vector<int>{rtc::RTCRS_REGISTERING, rtc::RTCRS_REGISTERED}));
    EXPECT_EQ(engine.sink().lastRegistrationCode(), 200);

    ASSERT_EQ(engine.disable(profile.get()), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor([&] { return engine.sink().registrationStates().size() >= 4; }, 5000))
        << ::testing::PrintToString(engine.sink().registrationStates());
    EXPECT_EQ(engine.sink().registrationStates(),
              (std::vector<int>{rtc::RTCRS_REGISTERING, rtc::RTCRS_REGISTERED, rtc::RTCRS_UNREGISTERING,
                                rtc::RTCRS_NOT_REGISTERED}));
    // The registrar saw the binding removed (REGISTER with Expires: 0).
    EXPECT_TRUE(lab::waitUntil(
        [] {
            return kamailio->output().contains(
                QStringLiteral("REGISTER sip:alice@127.0.0.1 saved (Expires '0')"));
        },
        2000))
        << kamailio->output().right(2000).toStdString();

    // The same profile enabled again registers again.
    ASSERT_EQ(engine.enable(profile.get()), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor([&] { return engine.sink().registrationStates().size() >= 6; }, 5000))
        << ::testing::PrintToString(engine.sink().registrationStates());
    EXPECT_EQ(engine.sink().registrationStates(),
              (std::vector<int>{rtc::RTCRS_REGISTERING, rtc::RTCRS_REGISTERED, rtc::RTCRS_UNREGISTERING,
                                rtc::RTCRS_NOT_REGISTERED, rtc::RTCRS_REGISTERING, rtc::RTCRS_REGISTERED}));
    EXPECT_TRUE(quietFor(500));
}

TEST_F(EngineRegistration, WrongPasswordIsRejectedOnceAndStaysRejected) {
    auto profile =
        engine.createProfile(QStringLiteral("alice"), QStringLiteral("not-the-secret"), kamailio->address());
    ASSERT_TRUE(profile);
    ASSERT_EQ(engine.enable(profile.get()), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor([&] { return engine.sink().registrationStates().size() >= 2; }, 5000));
    EXPECT_EQ(engine.sink().registrationStates(),
              (std::vector<int>{rtc::RTCRS_REGISTERING, rtc::RTCRS_REJECTED}));
    EXPECT_EQ(engine.sink().lastRegistrationCode(), 401);
    // No retry and no "not registered" after the refusal: it stands until the next login.
    EXPECT_TRUE(quietFor(4000)) << "events after the rejection: "
                                << engine.sink().registrationStates().size();
}

TEST_F(EngineRegistration, NewLoginAfterRejectionOrLogoffRegistersAgain) {
    // Wrong password first, then the right one in a new profile (the login window's second try).
    auto wrong = engine.createProfile(QStringLiteral("alice"), QStringLiteral("typo"), kamailio->address());
    ASSERT_EQ(engine.enable(wrong.get()), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor(
        [&] { return countOf(engine.sink().registrationStates(), rtc::RTCRS_REJECTED) == 1; }, 5000));
    auto alice = engine.login(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio->address());
    ASSERT_TRUE(alice) << "second login as alice failed: "
                       << ::testing::PrintToString(engine.sink().registrationStates());

    // Log off and log in as somebody else, as the program does in one go.
    ASSERT_EQ(engine.disable(alice.get()), rtc::S_OK);
    const qsizetype bobBefore = registrations(*kamailio, QStringLiteral("bob"));
    auto bob = engine.createProfile(QStringLiteral("bob"), QStringLiteral("bob-secret"), kamailio->address());
    ASSERT_EQ(engine.enable(bob.get()), rtc::S_OK);
    ASSERT_TRUE(engine.waitFor(
        [&] { return countOf(engine.sink().registrationStates(), rtc::RTCRS_REGISTERED) == 2; }, 5000));
    EXPECT_TRUE(quietFor(1000));
    // Alice's log-off ends without a word once bob logs in: nothing of hers can overwrite his state.
    const auto states = engine.sink().registrationStates();
    EXPECT_EQ(states.back(), rtc::RTCRS_REGISTERED) << ::testing::PrintToString(states);
    EXPECT_EQ(countOf(states, rtc::RTCRS_UNREGISTERING), 1);
    EXPECT_EQ(countOf(states, rtc::RTCRS_NOT_REGISTERED), 0);
    EXPECT_EQ(registrations(*kamailio, QStringLiteral("bob")), bobBefore + 1);
}

TEST_F(EngineRegistration, PasswordWithXmlSpecialCharactersComesThroughAsTyped) {
    auto profile = engine.login(QStringLiteral("carol"), kSpecialPassword, kamailio->address());
    EXPECT_TRUE(profile) << "states: " << engine.sink().registrationStates().size()
                         << " last code: " << engine.sink().lastRegistrationCode();
}

TEST_F(EngineRegistration, EventFilterWithoutRegistrationBitKeepsRegistrationEventsAway) {
    ASSERT_EQ(engine.client()->put_EventFilter(0x7FF & ~(1 << rtc::RTCE_REGISTRATION_STATE_CHANGE)),
              rtc::S_OK);
    const qsizetype before = registrations(*kamailio, QStringLiteral("alice"));
    auto profile =
        engine.createProfile(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio->address());
    ASSERT_EQ(engine.enable(profile.get()), rtc::S_OK);
    // Registration still happens: the registrar accepts alice once more.
    ASSERT_TRUE(
        lab::waitUntil([&] { return registrations(*kamailio, QStringLiteral("alice")) > before; }, 5000));
    EXPECT_TRUE(quietFor(500));
    EXPECT_TRUE(engine.sink().events.empty());
}

TEST_F(EngineRegistration, RegistrationHoldsOnLoopbackAndReleasingTheClientEndsItQuietly) {
    ASSERT_TRUE(engine.login(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio->address()));
    // With only loopback, liblinphone may decide the network is down after about five seconds
    // and drop the registration; it must not.
    EXPECT_TRUE(quietFor(7000)) << ::testing::PrintToString(engine.sink().registrationStates());
    const std::size_t before = engine.sink().events.size();
    QElapsedTimer t;
    t.start();
    engine.release();
    EXPECT_LT(t.elapsed(), 5000);
    engine.waitFor([] { return false; }, 300);
    EXPECT_EQ(engine.sink().events.size(), before);
}

// Profiles are checked when they are created; nothing is provisioned from a bad one.
TEST(EngineProvisioning, RefusesMalformedOrIncompleteProfiles) {
    TestEngine engine;
    ASSERT_TRUE(engine.ok());
    ComPtr<rtc::IRTCClientProvisioning> prov;
    ASSERT_EQ(ComPtr<rtc::IRTCClient>(engine.client()).as(prov), rtc::S_OK);

    const QString good =
        BuildProfileXml(QStringLiteral("alice"), QStringLiteral("a&b"), QStringLiteral("127.0.0.1:5070"));
    ComPtr<rtc::IRTCProfile> profile;
    EXPECT_EQ(prov->CreateProfile(good, profile.put()), rtc::S_OK);
    EXPECT_TRUE(profile);

    const QString bad[] = {
        QString(),
        QStringLiteral("not xml at all"),
        // The password as typed, unescaped: not well-formed XML.
        QStringLiteral(
            "<provision key=\"k\" name=\"a\" expires=\"600\"><user account=\"a\" name=\"a\" "
            "password=\"a&b\" uri=\"a@h\" /><sipsrv addr=\"h\" protocol=\"UDP\" role=\"registrar\" />"
            "</provision>"),
        // Cut short.
        good.left(good.size() - 12),
        // No registrar.
        QStringLiteral("<provision key=\"k\" name=\"a\" expires=\"600\"><user account=\"a\" name=\"a\" "
                       "password=\"p\" uri=\"a@h\" /><sipsrv addr=\"h\" protocol=\"UDP\" role=\"proxy\" />"
                       "</provision>"),
        // No user.
        QStringLiteral("<provision key=\"k\" name=\"a\" expires=\"600\"><sipsrv addr=\"h\" protocol=\"UDP\" "
                       "role=\"registrar\" /></provision>"),
        // Another root element.
        QStringLiteral("<profile><user account=\"a\" password=\"p\" uri=\"a@h\" /><sipsrv addr=\"h\" "
                       "role=\"registrar\" /></profile>"),
        // An empty server address.
        BuildProfileXml(QStringLiteral("alice"), QStringLiteral("p"), QString()),
    };
    for (const QString& xml : bad) {
        ComPtr<rtc::IRTCProfile> p;
        EXPECT_TRUE(rtc::Failed(prov->CreateProfile(xml, p.put()))) << xml.toStdString();
        EXPECT_FALSE(p) << xml.toStdString();
    }
}

TEST(EngineProvisioning, OperationsNeedAnInitializedClient) {
    QTemporaryDir dir;
    EngineOptions options;
    options.dataDir = dir.path();
    ComPtr<rtc::IRTCClient> client;
    ASSERT_EQ(CreateLinphoneClient(options, client.put()), rtc::S_OK);
    long volume = 0;
    EXPECT_EQ(client->get_Volume(rtc::RTCAD_SPEAKER, &volume), rtc::RTC_E_CLIENT_NOT_INITIALIZED);
    EXPECT_EQ(client->SendDTMF(rtc::RTC_DTMF_0), rtc::RTC_E_CLIENT_NOT_INITIALIZED);
    ComPtr<rtc::IRTCSession> session;
    EXPECT_EQ(client->CreateSession(rtc::RTCST_PC_TO_PC, QString(), nullptr, 0, session.put()),
              rtc::RTC_E_CLIENT_NOT_INITIALIZED);
    EXPECT_FALSE(session);
}

} // namespace

// A registrar that is away or failing for a while: only a refusal of the credentials ends the
// login; anything else is tried again, sooner first, and the registration comes back by itself.
class EngineRegistrarFaults : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(engine.ok()); }
    std::vector<int> states() const { return engine.sink().registrationStates(); }
    bool registeredAgain(int timeoutMs) {
        return engine.waitFor(
            [&] { return states().size() >= 2 && states().back() == rtc::RTCRS_REGISTERED; }, timeoutMs);
    }
    // SIPp on `port` refusing the registration with `code`, then gone.
    void refuse(lab::Sipp& sipp, int sipPort, int code) {
        ASSERT_TRUE(sipp.start(lab::SippOptions::refusingRegistrar(sipPort, code)) && sipp.waitUntilReady())
            << sipp.errors().toStdString();
    }
    const QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port); }

    int port = lab::freePort();
    TestEngine engine;
    lab::Kamailio kamailio;
};

TEST_F(EngineRegistrarFaults, ARegistrarDownAtLoginIsReachedWhenItComesUp) {
    auto profile = engine.createProfile(QStringLiteral("alice"), QStringLiteral("alice-secret"), address());
    ASSERT_EQ(engine.enable(profile.get()), rtc::S_OK);
    engine.waitFor([] { return false; }, 3000);
    EXPECT_EQ(states(), std::vector<int>{rtc::RTCRS_REGISTERING});
    ASSERT_TRUE(kamailio.start(lab::freePort(), lab::Kamailio::defaultAccounts(), port));
    EXPECT_TRUE(registeredAgain(15000)) << ::testing::PrintToString(states());
}

TEST_F(EngineRegistrarFaults, AServerErrorIsTriedAgainAndARefusalOfTheUserIsNot) {
    {
        lab::Sipp failing;
        refuse(failing, port, 503);
        auto profile =
            engine.createProfile(QStringLiteral("alice"), QStringLiteral("alice-secret"), address());
        ASSERT_EQ(engine.enable(profile.get()), rtc::S_OK);
        ASSERT_TRUE(engine.waitFor([&] { return countOf(states(), rtc::RTCRS_REJECTED) == 1; }, 10000));
        EXPECT_EQ(engine.sink().lastRegistrationCode(), 503);
        EXPECT_EQ(failing.waitForExit(10000), 0) << failing.errors().toStdString();
    }
    ASSERT_TRUE(kamailio.start(lab::freePort(), lab::Kamailio::defaultAccounts(), port));
    ASSERT_TRUE(registeredAgain(20000)) << ::testing::PrintToString(states());
    kamailio.stop();

    // 403: the same login is never tried again, even once the registrar would take it.
    port = lab::freePort();
    TestEngine other;
    lab::Sipp forbidding;
    refuse(forbidding, port, 403);
    auto profile = other.createProfile(QStringLiteral("alice"), QStringLiteral("alice-secret"), address());
    ASSERT_EQ(other.enable(profile.get()), rtc::S_OK);
    ASSERT_TRUE(other.waitFor(
        [&] { return countOf(other.sink().registrationStates(), rtc::RTCRS_REJECTED) == 1; }, 10000));
    EXPECT_EQ(other.sink().lastRegistrationCode(), 403);
    EXPECT_EQ(forbidding.waitForExit(10000), 0) << forbidding.errors().toStdString();
    ASSERT_TRUE(kamailio.start(lab::freePort(), lab::Kamailio::defaultAccounts(), port));
    other.waitFor([] { return false; }, 6000);
    EXPECT_EQ(other.sink().registrationStates(),
              (std::vector<int>{rtc::RTCRS_REGISTERING, rtc::RTCRS_REJECTED}));
    EXPECT_FALSE(kamailio.output().contains(QStringLiteral("REGISTER sip:alice")))
        << kamailio.output().toStdString();
}

TEST_F(EngineRegistrarFaults, ANewLoginStopsAnEarlierOneStillTryingAndHearsNothingOfIt) {
    // The first login waits for a registrar that is not there.
    auto first = engine.createProfile(QStringLiteral("alice"), QStringLiteral("alice-secret"), address());
    ASSERT_EQ(engine.enable(first.get()), rtc::S_OK);
    engine.waitFor([] { return false; }, 1000);

    lab::Kamailio other;
    ASSERT_TRUE(other.start(lab::freePort()));
    auto second = engine.createProfile(QStringLiteral("bob"), QStringLiteral("bob-secret"), other.address());
    ASSERT_EQ(engine.enable(second.get()), rtc::S_OK);
    ASSERT_TRUE(registeredAgain(5000)) << ::testing::PrintToString(states());
    const std::size_t afterSecond = states().size();

    // The first registrar comes up now: the first login must not register there any more, nor
    // say anything.
    ASSERT_TRUE(kamailio.start(lab::freePort(), lab::Kamailio::defaultAccounts(), port));
    engine.waitFor([] { return false; }, 6000);
    EXPECT_EQ(states().size(), afterSecond) << ::testing::PrintToString(states());
    EXPECT_EQ(registrations(kamailio, QStringLiteral("alice")), 0) << kamailio.output().toStdString();
}

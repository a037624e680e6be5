// The engine's event sink, the posted engine-event message and its dispatch, and the start of
// the engine with each of its failures.
#include "engine/RTCEvents.h"
#include "engine/RtcApp.h"
#include "fakes/FakeServices.h"
#include "phone/ControlIds.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

using namespace rtc;
using namespace fake;

namespace {

// Stands in for the main window: handles posted engine-event messages by dispatching them.
class Receiver : public QObject {
public:
    explicit Receiver(TestPhone& t) : t_(t) {}
    bool event(QEvent* e) override {
        if (e->type() != kEngineEventMessage)
            return QObject::event(e);
        auto* m = static_cast<EngineEventMessage*>(e);
        types << m->eventType();
        DispatchEngineEvent(t_.phone, m->eventType(), m->takeEvent());
        return true;
    }
    QList<int> types;

private:
    TestPhone& t_;
};

} // namespace

TEST(EventSink, HandsOutOnlyItsOwnInterfaceAndCountsReferences) {
    auto* sink = new CRTCEvents;
    EXPECT_EQ(sink->refCount(), 0);
    EXPECT_EQ(sink->AddRef(), 1u);

    void* out = nullptr;
    EXPECT_EQ(sink->QueryInterface(IID::IRTCEventNotification, &out), S_OK);
    EXPECT_EQ(out, static_cast<IRTCEventNotification*>(sink));
    EXPECT_EQ(sink->QueryInterface(IID::IUnknown, &out), S_OK);
    EXPECT_EQ(sink->refCount(), 3);
    EXPECT_EQ(sink->QueryInterface(IID::IRTCSession, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sink->refCount(), 3);

    EXPECT_EQ(sink->Release(), 2u);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(sink->Release(), 0u); // deleted here; ASan reports a double delete or a leak
}

TEST(EventSink, PostsEventsInOrderAndEachIsReleasedOnceWhateverItsType) {
    TestPhone t;
    ASSERT_EQ(t.startEngine(), S_OK);
    Receiver window(t);
    t.phone.st.sink->target = &window;

    Lifetime life;
    {
        ComPtr<FakeRegEvent> registered(new FakeRegEvent(RTCRS_REGISTERED, &life));
        ComPtr<FakeOtherEvent> client(new FakeOtherEvent(&life));
        ComPtr<FakeOtherEvent> media(new FakeOtherEvent(&life));
        ComPtr<FakeOtherEvent> refusing(new FakeOtherEvent(&life)); // type 1 but no registration interface
        ComPtr<FakeIntensityEvent> level(new FakeIntensityEvent(RTCAD_MICROPHONE, 0, 100, 40, &life));
        t.client->raise(RTCE_REGISTRATION_STATE_CHANGE, registered.get());
        t.client->raise(RTCE_CLIENT, client.get());
        t.client->raise(RTCE_MEDIA, media.get());
        t.client->raise(RTCE_REGISTRATION_STATE_CHANGE, refusing.get());
        t.client->raise(RTCE_INTENSITY, level.get());
        // The sink only posts: nothing is handled while the engine is raising events.
        EXPECT_TRUE(window.types.isEmpty());
        EXPECT_EQ(registered->refCount(), 2u);
    }
    EXPECT_EQ(life.destroyed, 0); // the posted messages hold them

    QCoreApplication::sendPostedEvents(&window);
    EXPECT_EQ(window.types, (QList<int>{1, 0, 5, 1, 6}));
    EXPECT_EQ(life.destroyed, 5);
    EXPECT_EQ(t.view.text(ctl::RegStatus), QStringLiteral("Ready to call..."));
    EXPECT_EQ(t.view.levels.value(ctl::MicLevel), 40);
}

TEST(EventSink, AMessageNeverHandledStillGivesItsReferenceBack) {
    Lifetime life;
    {
        TestPhone t;
        ASSERT_EQ(t.startEngine(), S_OK);
        auto* window = new QObject;
        t.phone.st.sink->target = window;
        ComPtr<FakeRegEvent> e(new FakeRegEvent(RTCRS_REGISTERING, &life));
        t.client->raise(RTCE_REGISTRATION_STATE_CHANGE, e.get());
        e = nullptr;
        delete window; // the window goes away with the message still queued
        EXPECT_EQ(life.destroyed, 1);
        // With no window left the sink gives the reference back at once.
        ComPtr<FakeRegEvent> late(new FakeRegEvent(RTCRS_REGISTERING, &life));
        t.client->raise(RTCE_REGISTRATION_STATE_CHANGE, late.get());
        EXPECT_EQ(late->refCount(), 1u);
    }
    EXPECT_EQ(life.destroyed, 2);
}

TEST(Dispatch, UnreadableRegistrationEventChangesNothing) {
    TestPhone t;
    t.startEngine();
    t.view.texts[ctl::RegStatus] = QStringLiteral("Not Registered");
    ComPtr<FakeRegEvent> e(new FakeRegEvent(RTCRS_REGISTERED));
    e->statusResult = E_FAIL;
    t.deliver(RTCE_REGISTRATION_STATE_CHANGE, e.get());
    EXPECT_EQ(t.view.text(ctl::RegStatus), QStringLiteral("Not Registered"));
    EXPECT_EQ(t.phone.st.registered, 0);
}

TEST(LevelBars, EachBarTakesItsRangeFromTheFirstEventOfItsDirectionOnly) {
    TestPhone t;
    ComPtr<FakeIntensityEvent> mic1(new FakeIntensityEvent(RTCAD_MICROPHONE, 0, 32767, 100));
    ComPtr<FakeIntensityEvent> mic2(new FakeIntensityEvent(RTCAD_MICROPHONE, 5, 200, 150));
    ComPtr<FakeIntensityEvent> spk(new FakeIntensityEvent(RTCAD_SPEAKER, 0, 120, 60));
    t.deliver(RTCE_INTENSITY, mic1.get());
    t.deliver(RTCE_INTENSITY, mic2.get());
    t.deliver(RTCE_INTENSITY, spk.get());
    EXPECT_EQ(t.view.levelRanges.value(ctl::MicLevel), qMakePair(0, 32767));
    EXPECT_EQ(t.view.levels.value(ctl::MicLevel), 150);
    EXPECT_EQ(t.view.levelRanges.value(ctl::SpeakerLevel), qMakePair(0, 120));
    EXPECT_EQ(t.view.levels.value(ctl::SpeakerLevel), 60);

    // Any direction other than the speaker is the microphone; an unreadable direction is ignored.
    ComPtr<FakeIntensityEvent> other(new FakeIntensityEvent(static_cast<RTC_AUDIO_DEVICE>(7), 0, 9, 3));
    t.deliver(RTCE_INTENSITY, other.get());
    EXPECT_EQ(t.view.levels.value(ctl::MicLevel), 3);
    ComPtr<FakeIntensityEvent> broken(new FakeIntensityEvent(RTCAD_SPEAKER, 0, 9, 9));
    broken->directionResult = E_FAIL;
    t.deliver(RTCE_INTENSITY, broken.get());
    EXPECT_EQ(t.view.levels.value(ctl::SpeakerLevel), 60);
}

TEST(LevelBars, RangeTravelsAsTwoSixteenBitHalves) {
    EXPECT_EQ(LevelRangeFromEvent(0, 32767).max, 32767);
    EXPECT_EQ(LevelRangeFromEvent(0, 65535).max, 65535);
    EXPECT_EQ(LevelRangeFromEvent(0x10005, 0x10064).min, 5);
    EXPECT_EQ(LevelRangeFromEvent(0x10005, 0x10064).max, 100);
}

TEST(InitializeRTCApp, StartsTheClientInOrderAndRegistersTheSink) {
    TestPhone t;
    QObject target;
    EXPECT_EQ(t.startEngine(&target), S_OK);
    EXPECT_EQ(t.client->calls, (QStringList{"Initialize", "put_EventFilter(0x7ff)",
                                            "put_ListenForIncomingSessions(2)", "Advise"}));
    ASSERT_NE(t.phone.st.sink, nullptr);
    EXPECT_EQ(t.phone.st.sink->cookie, 42u);
    EXPECT_EQ(t.phone.st.sink->target, &target);
    EXPECT_EQ(t.phone.st.sink->refCount(), 1); // held by the engine only
    EXPECT_TRUE(t.box.shown.isEmpty());
}

TEST(InitializeRTCApp, EachFailureShowsItsMessageAndReturnsItsResult) {
    { // the client cannot be created
        TestPhone t;
        const HRESULT hr = InitializeRTCApp(
            t.phone,
            [](IRTCClient** out) {
                *out = nullptr;
                return static_cast<HRESULT>(0x80040154u);
            },
            nullptr);
        EXPECT_EQ(hr, static_cast<HRESULT>(0x80040154u));
        ASSERT_EQ(t.box.shown.size(), 1);
        EXPECT_EQ(t.box.shown[0].text,
                  QStringLiteral("CoCreateInstance(CLSID_RTCClient) : Failed 0x80040154"));
        EXPECT_EQ(t.box.shown[0].title, QStringLiteral("RTCIn Error"));
        EXPECT_FALSE(t.phone.st.client);
    }
    { // Initialize fails
        TestPhone t;
        ComPtr<FakeClient> c(new FakeClient);
        c->initializeResult = E_FAIL;
        EXPECT_EQ(InitializeRTCApp(
                      t.phone,
                      [c](IRTCClient** out) {
                          *out = ComPtr<IRTCClient>(c.get()).detach();
                          return S_OK;
                      },
                      nullptr),
                  E_FAIL);
        EXPECT_EQ(t.box.texts(), QStringList{"IRTCClient::Initialize : Failed 0x80004005"});
        EXPECT_EQ(t.box.shown[0].title, QStringLiteral("RTCIn Error"));
    }
    { // the listen mode is refused: no message of its own, no sink, no client
        TestPhone t;
        ComPtr<FakeClient> c(new FakeClient);
        c->listenResult = S_FALSE; // anything but 0 is a refusal
        EXPECT_EQ(InitializeRTCApp(
                      t.phone,
                      [c](IRTCClient** out) {
                          *out = ComPtr<IRTCClient>(c.get()).detach();
                          return S_OK;
                      },
                      nullptr),
                  -1);
        EXPECT_TRUE(t.box.shown.isEmpty());
        EXPECT_FALSE(t.phone.st.client);
        EXPECT_EQ(t.phone.st.sink, nullptr);
        EXPECT_EQ(c->refCount(), 1u); // only the test's reference is left
    }
    for (int way = 0; way < 3; ++way) { // the sink cannot be registered
        TestPhone t;
        ComPtr<FakeClient> c(new FakeClient);
        if (way == 0)
            c->refuseConnectionPoints = true;
        if (way == 1)
            c->findConnectionPointResult = E_FAIL;
        if (way == 2)
            c->adviseResult = static_cast<HRESULT>(0x80040202u);
        const HRESULT hr = InitializeRTCApp(
            t.phone,
            [c](IRTCClient** out) {
                *out = ComPtr<IRTCClient>(c.get()).detach();
                return S_OK;
            },
            nullptr);
        EXPECT_TRUE(Failed(hr)) << way;
        EXPECT_EQ(t.box.texts(), QStringList{"Link to RTC events Failed"}) << way;
        EXPECT_EQ(t.box.shown[0].title, kAppTitle);
        EXPECT_FALSE(c->sink);
    }
}

TEST(InitializeRTCApp, MinusOneIsShownAsItsThirtyTwoBitPattern) {
    EXPECT_EQ(FormatErrorText("InitializeRTCApp() Failed: 0x%x", -1),
              QStringLiteral("InitializeRTCApp() Failed: 0xffffffff"));
    EXPECT_EQ(FormatErrorText("IRTCClient::Initialize : Failed 0x%x", E_FAIL),
              QStringLiteral("IRTCClient::Initialize : Failed 0x80004005"));
}

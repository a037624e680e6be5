// The main window's start with the real engine: the engine starts, its events reach the window
// on the window's thread, and the sound-device check passes with a sound server and fails
// without one.
#include "integration/window_lab.h"

#include "engine/RTCEvents.h"
#include "fakes/Modal.h"
#include "lab/Pulse.h"
#include "phone/ControlIds.h"
#include "rtc/linphone/LinphoneClient.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThread>

using namespace windowtest;

namespace {

// Notes every engine-event message the window receives and on which thread it arrives.
class EventSpy : public QObject {
public:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == kEngineEventMessage) {
            types << static_cast<EngineEventMessage*>(e)->eventType();
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
        }
        return false;
    }
    QList<int> types;
    bool onUiThread = true;
};

} // namespace

TEST_F(WindowTest, EngineStartsAndAnInviteToItsPortReachesTheWindowAsASessionEvent) {
    RecordingWindow& w = newWindow();
    EventSpy spy;
    w.installEventFilter(&spy);
    // The start-up login is cancelled: the window ends, but keeps its started engine.
    const int result = run([](CLogin* l) { l->reject(); }, [] {});
    EXPECT_EQ(result, 2);
    ASSERT_TRUE(w.phone().st.client) << box.texts().join("|").toStdString();
    EXPECT_TRUE(box.shown.isEmpty()) << box.texts().join("|").toStdString(); // the sound check passed
    EXPECT_EQ(w.phone().st.sink->refCount(), 1);

    lab::Sipp caller;
    lab::SippOptions o;
    o.scenario = QStringLiteral("uac_cancel.xml");
    o.remote = QStringLiteral("127.0.0.1:%1").arg(enginePort);
    o.service = QStringLiteral("alice");
    o.timeoutSec = 20;
    ASSERT_TRUE(caller.start(o));
    ASSERT_TRUE(waitFor([&] { return spy.types.contains(2); }, 10000)) << caller.errors().toStdString();
    EXPECT_TRUE(spy.onUiThread);
    EXPECT_TRUE(waitText(ctl::CallStatus, "Incoming...5551000"));
    EXPECT_TRUE(waitText(ctl::CallStatus, "Disconnected...", 10000));
    EXPECT_EQ(caller.waitForExit(10000), 0) << caller.errors().toStdString();
    w.removeEventFilter(&spy);
}

// Runs in a process of its own (the sound server is chosen once per process): started by the
// test below with ORVANE_LAB_NO_SOUND=1.
TEST(WindowWithoutSound, SaysCheckTheSoundCardAndAsksNoLogin) {
    if (qEnvironmentVariable("ORVANE_LAB_NO_SOUND") != QLatin1String("1"))
        GTEST_SKIP() << "runs in its own process";
    lab::Pulse::useNoSoundServer();
    QTemporaryDir dir;
    fake::MessageBoxes box;
    SystemClock clock;
    CurlHttpsClient https;
    MainWindowServices s;
    const EngineOptions engine{dir.filePath("engine"), QString(), -1};
    s.engineFactory = [engine](rtc::IRTCClient** out) { return CreateLinphoneClient(engine, out); };
    s.https = &https;
    s.clock = &clock;
    s.box = &box;
    s.historyDir = dir.filePath("history");
    RecordingWindow w(s);
    bool loginShown = false;
    fake::whenModal<CLogin>(
        [&](CLogin* l) {
            loginShown = true;
            l->reject();
        },
        3000);
    QTimer::singleShot(
        0, [&] { fake::whenModal<CKestuSoftPhoneDlg>([](CKestuSoftPhoneDlg* d) { d->done(0); }, 10000); });
    w.DoModal();
    EXPECT_TRUE(w.phone().st.client); // the engine did start
    EXPECT_EQ(box.texts(), QStringList{"Please check your sound card driver"});
    EXPECT_FALSE(loginShown);
    EXPECT_FALSE(w.texts.contains(ctl::StartDate));
}

TEST(WindowWithoutSound, RunInAProcessOfItsOwn) {
    if (qEnvironmentVariable("ORVANE_LAB_NO_SOUND") == QLatin1String("1"))
        GTEST_SKIP();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORVANE_LAB_NO_SOUND", "1");
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=WindowWithoutSound.SaysCheckTheSoundCardAndAsksNoLogin"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QString out = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
}

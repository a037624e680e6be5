// The liblinphone engine's audio side with the private PulseAudio server as sound card: level
// events and volumes during a call, the sound device check, local playback and the tuning dialog.
#include "integration/test_engine_support.h"

#include "lab/Kamailio.h"
#include "lab/LabProcess.h"
#include "lab/Pulse.h"
#include "lab/Sipp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QMap>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <numeric>

#include <linphone/logging.h>

using namespace enginetest;
using rtc::ComPtr;

namespace {

// The mean level of the intensity events of `direction` that arrived after `fromMs`.
double meanLevel(const RecordingSink& sink, rtc::RTC_AUDIO_DEVICE direction, qint64 fromMs,
                 int* count = nullptr) {
    std::vector<long> levels;
    for (const auto& e : sink.ofType(rtc::RTCE_INTENSITY))
        if (e.direction == direction && e.atMs >= fromMs)
            levels.push_back(e.level);
    if (count)
        *count = static_cast<int>(levels.size());
    return levels.empty() ? -1.0 : std::accumulate(levels.begin(), levels.end(), 0.0) / levels.size();
}

// Whether a window of 200 ms on `speaker` comes louder than -40 dBFS (or, for the second, quieter
// than -60 dBFS) within `timeoutMs`: how long sound takes to reach the speaker depends on the
// machine's load, so the tests wait for it within a bound.
bool loudWindowWithin(const TestEngine& engine, SpeakerRecorder& speaker, int timeoutMs,
                      const std::function<void()>& poll = {}) {
    speaker.takeLevelDb();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        engine.waitFor(
            [&] {
                if (poll)
                    poll();
                return false;
            },
            200);
        if (speaker.takeLevelDb() > -40)
            return true;
    }
    return false;
}

bool silentWindowWithin(const TestEngine& engine, SpeakerRecorder& speaker, int timeoutMs) {
    speaker.takeLevelDb();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        engine.waitFor([] { return false; }, 200);
        if (speaker.takeLevelDb() < -60)
            return true;
    }
    return false;
}

TEST(EngineVolume, RoundTripsWithinRangeAndRefusesTheRest) {
    TestEngine engine;
    ASSERT_TRUE(engine.ok());
    rtc::IRTCClient* client = engine.client();
    long v = -1;
    // The core starts at 0 dB: full volume.
    ASSERT_EQ(client->get_Volume(rtc::RTCAD_SPEAKER, &v), rtc::S_OK);
    EXPECT_EQ(v, rtc::kVolumeMax);
    ASSERT_EQ(client->get_Volume(rtc::RTCAD_MICROPHONE, &v), rtc::S_OK);
    EXPECT_EQ(v, rtc::kVolumeMax);

    for (long set : {40000L, 1L, 0L, 65535L, 32768L}) {
        EXPECT_EQ(client->put_Volume(rtc::RTCAD_SPEAKER, set), rtc::S_OK);
        EXPECT_EQ(client->put_Volume(rtc::RTCAD_MICROPHONE, 65535 - set), rtc::S_OK);
        ASSERT_EQ(client->get_Volume(rtc::RTCAD_SPEAKER, &v), rtc::S_OK);
        EXPECT_EQ(v, set);
        ASSERT_EQ(client->get_Volume(rtc::RTCAD_MICROPHONE, &v), rtc::S_OK);
        EXPECT_EQ(v, 65535 - set);
    }
    EXPECT_EQ(client->put_Volume(rtc::RTCAD_SPEAKER, 65536), rtc::E_INVALIDARG);
    EXPECT_EQ(client->put_Volume(rtc::RTCAD_MICROPHONE, -1), rtc::E_INVALIDARG);
    EXPECT_EQ(client->put_Volume(static_cast<rtc::RTC_AUDIO_DEVICE>(2), 100), rtc::E_INVALIDARG);
    ASSERT_EQ(client->get_Volume(rtc::RTCAD_SPEAKER, &v), rtc::S_OK);
    EXPECT_EQ(v, 32768) << "a refused value changes nothing";
}

// A call whose far end is the test: the microphone hears the sound server's steady 300 Hz tone
// and the engine sends it; the far end talks back with a 1 kHz tone that the engine plays on the
// speaker. (Not an echo of the engine's own voice: the echo canceller would rightly remove the
// microphone's tone then.) Measured on the wire, on the speaker, and as the engine reports it.
class EngineCallAudio : public ::testing::Test {
protected:
    struct Levels {
        double sentDb;    // the voice in the RTP the engine sends
        double playedDb;  // what the speaker played
        double micEvents; // mean level of the microphone events
        double speakerEvents;
    };

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
        rtp.setTone(1000, 0.3);
        lab::SippOptions o;
        o.scenario = QStringLiteral("uas_answer.xml");
        o.localPort = uasPort;
        o.advertisedMediaPort = rtp.port();
        ASSERT_TRUE(peer.start(o) && peer.waitUntilReady());
        ASSERT_TRUE(speaker.start());
        ASSERT_EQ(
            engine.client()->CreateSession(rtc::RTCST_PC_TO_PC, QString(), profile.get(), 0, session.put()),
            rtc::S_OK);
        ComPtr<rtc::IRTCParticipant> participant;
        ASSERT_EQ(session->AddParticipant(QStringLiteral("sip:5551234@") + kamailio->address(), QString(),
                                          participant.put()),
                  rtc::S_OK);
        ASSERT_TRUE(engine.waitFor(
            [&] {
                rtp.poll();
                return countOf(engine.sink().sessionStates(), rtc::RTCSS_CONNECTED) > 0;
            },
            5000));
    }

    void TearDown() override {
        if (session)
            session->Terminate(rtc::RTCTR_NORMAL);
        engine.waitFor([&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_DISCONNECTED) > 0; },
                       3000);
    }

    void spin(int ms) {
        engine.waitFor(
            [&] {
                rtp.poll();
                return false;
            },
            ms);
    }

    // Levels over one window of kWindowMs.
    Levels window() {
        rtp.takeVoiceLevelDb();
        speaker.takeLevelDb();
        const qint64 from = engine.sink().elapsedMs();
        spin(kWindowMs);
        Levels l{rtp.takeVoiceLevelDb(), speaker.takeLevelDb(), 0, 0};
        int nMic = 0;
        int nSpk = 0;
        l.micEvents = meanLevel(engine.sink(), rtc::RTCAD_MICROPHONE, from, &nMic);
        l.speakerEvents = meanLevel(engine.sink(), rtc::RTCAD_SPEAKER, from, &nSpk);
        EXPECT_GE(nMic, 2) << "too few microphone level events";
        EXPECT_GE(nSpk, 2) << "too few speaker level events";
        return l;
    }

    // Measures window after window until `reached` holds for one, for at most `timeoutMs`, and
    // returns that window's levels (the last one's when it never held). A change of volume
    // reaches the speaker only after the sound already queued for it has played, which takes
    // longer on a busy machine and longer still when the speaker's delay has grown: the test
    // waits for the change, within a bound, instead of guessing when it is done.
    Levels measureUntil(const std::function<bool(const Levels&)>& reached, int timeoutMs = 10000) {
        QElapsedTimer clock;
        clock.start();
        Levels l = window();
        while (!reached(l) && clock.elapsed() < timeoutMs)
            l = window();
        return l;
    }

    // The same, until `reached` holds and what is sent and played has also settled: within 1.5 dB
    // of the window before. (The echo canceller's noise suppression takes a steady tone down
    // over the call's first seconds.)
    Levels measureSteady(const std::function<bool(const Levels&)>& reached, int timeoutMs = 15000) {
        Levels before{1000, 1000, 0, 0};
        return measureUntil(
            [&](const Levels& l) {
                const bool steady = std::abs(l.sentDb - before.sentDb) <= 1.5 &&
                                    std::abs(l.playedDb - before.playedDb) <= 1.5;
                before = l;
                return steady && reached(l);
            },
            timeoutMs);
    }

    static std::string describe(const Levels& l) {
        return QStringLiteral("sent %1 dBFS, played %2 dBFS, events mic %3 speaker %4")
            .arg(l.sentDb, 0, 'f', 1)
            .arg(l.playedDb, 0, 'f', 1)
            .arg(l.micEvents, 0, 'f', 1)
            .arg(l.speakerEvents, 0, 'f', 1)
            .toStdString();
    }

    static constexpr int kWindowMs = 600; // three level events
    static inline int uasPort = 0;
    static inline std::unique_ptr<lab::Kamailio> kamailio;
    TestEngine engine;
    ComPtr<rtc::IRTCProfile> profile;
    ComPtr<rtc::IRTCSession> session;
    RtpPeer rtp;
    lab::Sipp peer;
    SpeakerRecorder speaker;
};

TEST_F(EngineCallAudio, VolumesChangeWhatIsSentAndPlayedAndTheLevelEventsFollow) {
    auto near = [](double value, double expected, double tolerance) {
        return std::abs(value - expected) <= tolerance;
    };
    // Both tones are well above silence once the call's sound runs both ways and has settled.
    const Levels full = measureSteady([](const Levels& l) {
        return l.sentDb > -35 && l.playedDb > -25 && l.micEvents > 80 && l.speakerEvents > 80;
    });
    SCOPED_TRACE("full volume: " + describe(full));
    for (const auto& e : engine.sink().ofType(rtc::RTCE_INTENSITY)) {
        ASSERT_EQ(e.min, 0);
        ASSERT_EQ(e.max, 120);
        ASSERT_GE(e.level, 0);
        ASSERT_LE(e.level, 120);
    }
    EXPECT_GT(full.sentDb, -35);
    EXPECT_GT(full.playedDb, -25);
    EXPECT_GT(full.micEvents, 80);
    EXPECT_GT(full.speakerEvents, 80);

    // A tenth of the microphone volume: a tenth of the amplitude (-20 dB) goes out.
    ASSERT_EQ(engine.client()->put_Volume(rtc::RTCAD_MICROPHONE, 6554), rtc::S_OK);
    const Levels micLow = measureUntil([&](const Levels& l) {
        return near(l.sentDb, full.sentDb - 20, 5) && near(l.micEvents, full.micEvents - 20, 5);
    });
    SCOPED_TRACE("microphone at a tenth: " + describe(micLow));
    EXPECT_NEAR(micLow.sentDb, full.sentDb - 20, 5);
    EXPECT_NEAR(micLow.micEvents, full.micEvents - 20, 5);
    EXPECT_NEAR(micLow.playedDb, full.playedDb, 3);

    // Microphone muted: silence goes out.
    ASSERT_EQ(engine.client()->put_Volume(rtc::RTCAD_MICROPHONE, 0), rtc::S_OK);
    const Levels micMuted = measureUntil([](const Levels& l) { return l.sentDb < -60 && l.micEvents < 20; });
    SCOPED_TRACE("microphone muted: " + describe(micMuted));
    EXPECT_LT(micMuted.sentDb, -60);
    EXPECT_LT(micMuted.micEvents, 20);

    ASSERT_EQ(engine.client()->put_Volume(rtc::RTCAD_MICROPHONE, rtc::kVolumeMax), rtc::S_OK);
    const Levels back = measureUntil([&](const Levels& l) { return near(l.sentDb, full.sentDb, 3); });
    SCOPED_TRACE("microphone back: " + describe(back));
    EXPECT_NEAR(back.sentDb, full.sentDb, 3);

    // A tenth of the speaker volume: the same comes in, a tenth of it is played.
    ASSERT_EQ(engine.client()->put_Volume(rtc::RTCAD_SPEAKER, 6554), rtc::S_OK);
    const Levels spkLow = measureUntil([&](const Levels& l) {
        return near(l.playedDb, back.playedDb - 20, 5) && near(l.speakerEvents, back.speakerEvents - 20, 5);
    });
    SCOPED_TRACE("speaker at a tenth: " + describe(spkLow));
    EXPECT_NEAR(spkLow.sentDb, full.sentDb, 3);
    EXPECT_NEAR(spkLow.playedDb, back.playedDb - 20, 5);
    EXPECT_NEAR(spkLow.speakerEvents, back.speakerEvents - 20, 5);

    // Speaker muted: nothing is played.
    ASSERT_EQ(engine.client()->put_Volume(rtc::RTCAD_SPEAKER, 0), rtc::S_OK);
    const Levels spkMuted =
        measureUntil([](const Levels& l) { return l.playedDb < -60 && l.speakerEvents < 20; });
    SCOPED_TRACE("speaker muted: " + describe(spkMuted));
    EXPECT_LT(spkMuted.playedDb, -60);
    EXPECT_LT(spkMuted.speakerEvents, 20);

    // The filter without the intensity bit stops the level events.
    // (An absence can only be watched for a while: four times the events' period.)
    ASSERT_EQ(engine.client()->put_EventFilter(0x7FF & ~(1 << rtc::RTCE_INTENSITY)), rtc::S_OK);
    const std::size_t before = engine.sink().ofType(rtc::RTCE_INTENSITY).size();
    spin(800);
    EXPECT_EQ(engine.sink().ofType(rtc::RTCE_INTENSITY).size(), before);
}

// The engine sends a packet every 20 ms, not pairs of them every 40 ms. PipeWire's PulseAudio
// server hands the microphone over only in whole fragments of the size the stream asked for:
// with large ones the engine would send in bursts, which the far end's jitter buffer must absorb
// and the caller pays for in delay.
TEST_F(EngineCallAudio, PacketsLeaveOneAtATime) {
    spin(1000); // past the call's start
    const int before = rtp.audioPackets();
    const int batchedBefore = rtp.audioPacketsInBatches();
    spin(4000);
    const int sent = rtp.audioPackets() - before;
    const int batched = rtp.audioPacketsInBatches() - batchedBefore;
    EXPECT_GE(sent, 150) << "the engine should send about 200 packets in 4 s";
    EXPECT_LT(batched, sent / 3) << batched << " of " << sent << " packets arrived together with another";
}

// Every tenth packet from the far end is lost on the way. The G.711 decoder fills each loss when
// the lost packet was due, from the packet after it, which ortp's jitter buffer already holds;
// were it filled only when that packet comes out, a packet's time later, the speaker would run
// dry first. The decoder reports what it filled when the call ends, in the engine's log.
TEST_F(EngineCallAudio, LostPacketsAreFilledInWhenTheyWereDue) {
    static std::mutex mutex;
    static QString report;
    report.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            if (m.contains(QStringLiteral("G.711 decoder:"))) {
                const std::lock_guard<std::mutex> lock(mutex);
                report = m;
            }
        });
    LinphoneLoggingService* logging = linphone_logging_service_get();
    linphone_logging_service_set_log_level(logging, LinphoneLogLevelMessage);

    rtp.setLossEvery(10);
    spin(4000);
    session->Terminate(rtc::RTCTR_NORMAL);
    session = nullptr;
    const bool reported = engine.waitFor(
        [&] {
            const std::lock_guard<std::mutex> lock(mutex);
            return !report.isEmpty();
        },
        5000);
    linphone_logging_service_set_log_level(logging, LinphoneLogLevelError);
    qInstallMessageHandler(previous);

    ASSERT_TRUE(reported) << "the decoder did not report";
    const auto m =
        QRegularExpression(QStringLiteral("(\\d+) ms of lost packets filled in \\((\\d+) when due\\)"))
            .match(report);
    ASSERT_TRUE(m.hasMatch()) << report.toStdString();
    const int filled = m.captured(1).toInt();
    const int whenDue = m.captured(2).toInt();
    // About 20 losses of 20 ms in 4 s; each one was filled, and filled when due.
    EXPECT_GE(filled, 200) << report.toStdString();
    EXPECT_EQ(whenDue, filled) << report.toStdString();
}

TEST_F(EngineCallAudio, AfterASpellOfDelayTheJitterBufferComesBackWithinSeconds) {
    // The jitter buffer's 5 s reports, with when they came.
    struct Report {
        qint64 atMs;
        double target;
        double effective;
    };
    static std::mutex mutex;
    static std::vector<Report> reports;
    static QElapsedTimer clock;
    reports.clear();
    clock.start();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& m) {
            static const QRegularExpression re(
                QStringLiteral("target-size: ([0-9.]+) ms, effective-size: ([0-9.]+)"));
            const auto match = re.match(m);
            if (!match.hasMatch())
                return;
            const std::lock_guard<std::mutex> lock(mutex);
            reports.push_back({clock.elapsed(), match.captured(1).toDouble(), match.captured(2).toDouble()});
        });
    LinphoneLoggingService* logging = linphone_logging_service_get();
    linphone_logging_service_set_log_level(logging, LinphoneLogLevelMessage);

    // The line's delay grows by 100 ms for 3 s (a route that changed, a busy Wi-Fi), and the
    // buffer grows with it; then it is as before.
    spin(3000);
    rtp.setSendDelay(100);
    spin(3000);
    rtp.setSendDelay(0);
    const qint64 ended = clock.elapsed();
    Report last{};
    const bool reported = engine.waitFor(
        [&] {
            rtp.poll();
            const std::lock_guard<std::mutex> lock(mutex);
            if (reports.empty() || reports.back().atMs < ended + 16000)
                return false;
            last = reports.back();
            return true;
        },
        30000);
    linphone_logging_service_set_log_level(logging, LinphoneLogLevelError);
    qInstallMessageHandler(previous);

    ASSERT_TRUE(reported) << "no report of the jitter buffer 16 s after the spell";
    const std::lock_guard<std::mutex> lock(mutex);
    const double grownTo =
        std::max_element(reports.begin(), reports.end(), [](const Report& a, const Report& b) {
            return a.target < b.target;
        })->target;
    EXPECT_GE(grownTo, 90.0) << "the buffer did not grow with the delay";
    // Over the 5 s up to 16 s after it, the buffer is back at its smallest, and holds no more
    // than that: a call is not left slower for the rest of it.
    EXPECT_LE(last.target, 45.0);
    EXPECT_LE(last.effective, 55.0);
}

TEST(EngineSoundDevice, PrivateSoundServerCountsAsSoundCard) {
    ASSERT_TRUE(lab::Pulse::shared().running());
    TestEngine engine;
    ASSERT_TRUE(engine.ok());
    ComPtr<rtc::IEngineAudio> audio;
    ASSERT_EQ(ComPtr<rtc::IRTCClient>(engine.client()).as(audio), rtc::S_OK);
    bool present = false;
    ASSERT_EQ(audio->HasSoundDevice(&present), rtc::S_OK);
    EXPECT_TRUE(present);

    QTemporaryDir dir;
    const QString first = dir.path() + QStringLiteral("/first.wav");
    const QString second = dir.path() + QStringLiteral("/second.wav");
    ASSERT_TRUE(lab::writeToneWav(first, 440, 10.0));
    ASSERT_TRUE(lab::writeToneWav(second, 880, 0.3));
    SpeakerRecorder speaker;
    ASSERT_TRUE(speaker.start());
    ASSERT_TRUE(engine.waitFor([&] { return speaker.hearing(); }, 5000))
        << "nothing recorded from the speaker";
    EXPECT_EQ(audio->PlaySoundFile(first), rtc::S_OK);
    EXPECT_TRUE(loudWindowWithin(engine, speaker, 5000)) << "the sound is not played";
    // A new sound cuts the one before short: the speaker falls silent after the short one, long
    // before the first would have ended.
    EXPECT_EQ(audio->PlaySoundFile(second), rtc::S_OK);
    EXPECT_TRUE(silentWindowWithin(engine, speaker, 5000)) << "the first sound played on";
    EXPECT_TRUE(rtc::Failed(audio->PlaySoundFile(dir.path() + QStringLiteral("/missing.wav"))));
}

// The sinks this process's playback streams are on, by name, as the sound server sees them.
QStringList sinksOfThisProcess() {
    QString sinks;
    QString inputs;
    if (lab::runToEnd(QStringLiteral("pactl"),
                      {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sinks")}, 10000,
                      &sinks) != 0 ||
        lab::runToEnd(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")}, 10000,
                      &inputs) != 0)
        return {};
    QMap<QString, QString> names;
    for (const QString& line : sinks.split(QLatin1Char('\n'))) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() > 1)
            names[f[0]] = f[1];
    }
    QStringList out;
    const QString pid =
        QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
    for (const QString& block : inputs.split(QStringLiteral("\n\n"))) {
        const auto m =
            QRegularExpression(QStringLiteral("^\\s*Sink: (\\d+)"), QRegularExpression::MultilineOption)
                .match(block);
        if (m.hasMatch() && block.contains(pid))
            out << names.value(m.captured(1));
    }
    return out;
}

// The desktop's sound settings choose the sink: a call plays where the server's default is (a
// headset the user picked, say), not on whichever sink the driver would take by itself.
TEST(EngineSoundDevice, CallsPlayOnTheSoundServersDefaultSink) {
    ASSERT_TRUE(lab::Pulse::shared().running());
    const int uasPort = lab::freePort();
    lab::Kamailio kamailio;
    ASSERT_TRUE(kamailio.start(uasPort));
    // A headset, plugged in and chosen: a sink of its own, listed after the others, that plays
    // through the speaker's sink so that its sound can be heard there.
    QString module;
    ASSERT_EQ(lab::runToEnd(QStringLiteral("pactl"),
                            {QStringLiteral("load-module"), QStringLiteral("module-remap-sink"),
                             QStringLiteral("sink_name=headset"), QStringLiteral("master=spk"),
                             QStringLiteral("sink_properties=device.description=Headset")},
                            10000, &module),
              0);
    ASSERT_EQ(lab::runToEnd(QStringLiteral("pactl"),
                            {QStringLiteral("set-default-sink"), QStringLiteral("headset")}),
              0);
    struct Restore {
        QString module;
        ~Restore() {
            lab::runToEnd(QStringLiteral("pactl"),
                          {QStringLiteral("set-default-sink"), QStringLiteral("spk")});
            lab::runToEnd(QStringLiteral("pactl"), {QStringLiteral("unload-module"), module.trimmed()});
        }
    } restore{module};

    TestEngine engine;
    ASSERT_TRUE(engine.ok());
    auto profile = engine.login(QStringLiteral("alice"), QStringLiteral("alice-secret"), kamailio.address());
    ASSERT_TRUE(profile);
    RtpPeer rtp;
    ASSERT_TRUE(rtp.bind());
    rtp.setTone(1000, 0.3);
    lab::Sipp peer;
    lab::SippOptions o;
    o.scenario = QStringLiteral("uas_answer.xml");
    o.localPort = uasPort;
    o.advertisedMediaPort = rtp.port();
    ASSERT_TRUE(peer.start(o) && peer.waitUntilReady());
    SpeakerRecorder speaker;
    ASSERT_TRUE(speaker.start());
    ComPtr<rtc::IRTCSession> session;
    ComPtr<rtc::IRTCParticipant> participant;
    ASSERT_EQ(engine.client()->CreateSession(rtc::RTCST_PC_TO_PC, QString(), profile.get(), 0, session.put()),
              rtc::S_OK);
    ASSERT_EQ(session->AddParticipant(QStringLiteral("sip:4021@") + kamailio.address(), QString(),
                                      participant.put()),
              rtc::S_OK);
    auto spin = [&](int ms, const std::function<bool()>& until) {
        return engine.waitFor(
            [&] {
                rtp.poll();
                return until();
            },
            ms);
    };
    ASSERT_TRUE(spin(8000, [&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_CONNECTED) > 0; }));
    EXPECT_TRUE(loudWindowWithin(engine, speaker, 10000, [&] { rtp.poll(); })) << "the far end is not heard";
    EXPECT_EQ(sinksOfThisProcess().join(QLatin1Char(',')).toStdString(), "headset")
        << "the call does not play on the sink the user chose";
    session->Terminate(rtc::RTCTR_NORMAL);
    spin(3000, [&] { return countOf(engine.sink().sessionStates(), rtc::RTCSS_DISCONNECTED) > 0; });
}

// Runs in a child process of its own (see below): liblinphone's PulseAudio backend keeps its
// first connection for the life of the process.
TEST(EngineSoundDevice, DISABLED_NoSoundServerMeansNoSoundCard) {
    ASSERT_TRUE(qEnvironmentVariableIsSet("ORVANE_LAB_NO_SOUND"));
    TestEngine engine;
    ASSERT_TRUE(engine.ok());
    ComPtr<rtc::IEngineAudio> audio;
    ASSERT_EQ(ComPtr<rtc::IRTCClient>(engine.client()).as(audio), rtc::S_OK);
    bool present = true;
    ASSERT_EQ(audio->HasSoundDevice(&present), rtc::S_OK);
    EXPECT_FALSE(present);
}

TEST(EngineSoundDevice, WithoutSoundServerThereIsNoSoundCard) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVANE_LAB_NO_SOUND"), QStringLiteral("1"));
    env.remove(QStringLiteral("PULSE_SERVER"));
    const auto child = enginetest::runDisabledTestInChild(
        QStringLiteral("EngineSoundDevice.DISABLED_NoSoundServerMeansNoSoundCard"), env, 30000);
    ASSERT_TRUE(child.finished) << child.output.toStdString();
    EXPECT_EQ(child.exitCode, 0) << child.output.toStdString();
    EXPECT_TRUE(child.passed) << child.output.toStdString();
}

// The tuning dialog, driven the way a user would: look, choose, confirm or cancel.
class EngineTuningWizard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lab::Pulse::shared().running());
        ASSERT_TRUE(lab::writeToneWav(sounds.path() + QStringLiteral("/ring.wav"), 440, 1.0));
        engine = std::make_unique<TestEngine>(-1, sounds.path());
        ASSERT_TRUE(engine->ok());
    }

    // Opens the wizard; `drive` runs once it shows and must close it. Fails instead of hanging.
    void runWizard(const std::function<void(QDialog*)>& drive) {
        bool driven = false;
        QTimer poll;
        poll.setInterval(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || driven)
                return;
            driven = true;
            drive(dialog);
            if (dialog->isVisible())
                dialog->reject();
        });
        poll.start();
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [] {
            if (auto* w = QApplication::activeModalWidget())
                w->close();
        });
        guard.start(15000);
        EXPECT_EQ(engine->client()->InvokeTuningWizard(nullptr), rtc::S_OK);
        EXPECT_TRUE(driven) << "the wizard never showed";
        EXPECT_TRUE(guard.isActive()) << "the wizard had to be closed by force";
    }

    static QStringList items(const QComboBox* combo) {
        QStringList out;
        for (int i = 0; i < combo->count(); ++i)
            out << combo->itemText(i);
        return out;
    }

    QTemporaryDir sounds;
    std::unique_ptr<TestEngine> engine;
};

TEST_F(EngineTuningWizard, ListsDevicesShowsTheMicrophoneLevelAndKeepsTheChoiceOnlyOnOk) {
    QString chosenPlayback;
    runWizard([&](QDialog* dialog) {
        auto* capture = dialog->findChild<QComboBox*>(QStringLiteral("captureDeviceCombo"));
        auto* playback = dialog->findChild<QComboBox*>(QStringLiteral("playbackDeviceCombo"));
        auto* level = dialog->findChild<QProgressBar*>(QStringLiteral("microphoneLevel"));
        auto* test = dialog->findChild<QPushButton*>(QStringLiteral("playTestSoundButton"));
        auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        ASSERT_TRUE(capture && playback && level && test && buttons);
        EXPECT_TRUE(items(capture).filter(QStringLiteral("TestMicrophone")).size() == 1)
            << items(capture).join(", ").toStdString();
        EXPECT_TRUE(items(playback).filter(QStringLiteral("NullSpeaker")).size() == 1)
            << items(playback).join(", ").toStdString();
        EXPECT_TRUE(items(playback).filter(QStringLiteral("MicFeed")).size() == 1);
        EXPECT_TRUE(capture->currentText().contains(QStringLiteral("TestMicrophone")));
        EXPECT_TRUE(playback->currentText().contains(QStringLiteral("NullSpeaker")));

        // The microphone hears the server's tone: the bar moves.
        EXPECT_TRUE(lab::waitUntil([&] { return level->value() > 30; }, 5000)) << "level " << level->value();

        // The test sound is heard on the chosen speaker.
        ASSERT_TRUE(test->isEnabled());
        SpeakerRecorder speaker;
        ASSERT_TRUE(speaker.start());
        ASSERT_TRUE(lab::waitUntil([&] { return speaker.hearing(); }, 5000));
        test->click();
        EXPECT_TRUE(loudWindowWithin(*engine, speaker, 5000)) << "the test sound is not heard";

        playback->setCurrentIndex(
            playback->findText(items(playback).filter(QStringLiteral("MicFeed")).value(0)));
        chosenPlayback = playback->currentText();
        buttons->button(QDialogButtonBox::Ok)->click();
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
    });
    ASSERT_TRUE(chosenPlayback.contains(QStringLiteral("MicFeed")));

    // Reopened: the choice made with OK stands. A choice left with Cancel does not.
    runWizard([&](QDialog* dialog) {
        auto* playback = dialog->findChild<QComboBox*>(QStringLiteral("playbackDeviceCombo"));
        ASSERT_TRUE(playback);
        EXPECT_EQ(playback->currentText().toStdString(), chosenPlayback.toStdString());
        playback->setCurrentIndex(
            playback->findText(items(playback).filter(QStringLiteral("NullSpeaker")).value(0)));
        dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"))
            ->button(QDialogButtonBox::Cancel)
            ->click();
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
    });
    runWizard([&](QDialog* dialog) {
        auto* playback = dialog->findChild<QComboBox*>(QStringLiteral("playbackDeviceCombo"));
        ASSERT_TRUE(playback);
        EXPECT_EQ(playback->currentText().toStdString(), chosenPlayback.toStdString());
        dialog->reject();
    });
}

} // namespace

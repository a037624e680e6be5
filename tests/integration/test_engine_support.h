// Shared pieces of the engine integration tests: a sink that records every engine event, and a
// client started the way the program starts it, reached only through the engine interface.
#pragma once

#include "rtc/ComPtr.h"
#include "rtc/Rtc.h"
#include "rtc/RtcObject.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <vector>

namespace enginetest {

struct RecordedEvent {
    rtc::RTC_EVENT type{};
    int state = -1; // registration or session state
    long code = 0;  // status code
    rtc::ComPtr<rtc::IRTCSession> session;
    rtc::RTC_AUDIO_DEVICE direction{};
    long level = 0;
    long min = 0;
    long max = 0;
    qint64 atMs = 0; // since the sink was made
};

class RecordingSink final : public rtc::RtcObject<rtc::IRTCEventNotification> {
public:
    RecordingSink() { clock_.start(); }
    rtc::HRESULT Event(rtc::RTC_EVENT type, rtc::IUnknown* event) override;

    std::vector<RecordedEvent> events;

    std::vector<RecordedEvent> ofType(rtc::RTC_EVENT type) const;
    // The states of the registration events, in order.
    std::vector<int> registrationStates() const;
    // The states of the session events of `session` (all sessions when null), in order.
    std::vector<int> sessionStates(rtc::IRTCSession* session = nullptr) const;
    // The session of the first session event with `state`, if any.
    rtc::ComPtr<rtc::IRTCSession> firstSessionIn(int state) const;
    long lastRegistrationCode() const;
    qint64 elapsedMs() const { return clock_.elapsed(); }

private:
    QElapsedTimer clock_;
};

// One engine client as the program holds it: initialised, all events, listening for calls,
// with a recording sink.
class TestEngine {
public:
    // `sipPort` -1: a free port of the engine's choice.
    explicit TestEngine(int sipPort = -1, const QString& soundDir = {});
    ~TestEngine();

    bool ok() const { return ok_; }
    int sipPort() const { return sipPort_; }
    rtc::IRTCClient* client() const { return client_.get(); }
    RecordingSink& sink() const { return *sink_.get(); }

    rtc::ComPtr<rtc::IRTCProfile> createProfile(const QString& user, const QString& password,
                                                const QString& server, rtc::HRESULT* hr = nullptr) const;
    rtc::HRESULT enable(rtc::IRTCProfile* profile) const;
    rtc::HRESULT disable(rtc::IRTCProfile* profile) const;
    // Creates and enables a profile and waits until it is registered; null on failure.
    rtc::ComPtr<rtc::IRTCProfile> login(const QString& user, const QString& password, const QString& server,
                                        int timeoutMs = 5000) const;
    // Waits (spinning the event loop) until `pred` holds.
    bool waitFor(const std::function<bool()>& pred, int timeoutMs) const;
    // Drops the client (stopping its core); the sink keeps what it recorded.
    void release();

private:
    QTemporaryDir dataDir_;
    rtc::ComPtr<rtc::IRTCClient> client_;
    rtc::ComPtr<RecordingSink> sink_;
    int sipPort_ = -1;
    bool ok_ = false;
};

// The far end's media port, played by the test: receives the engine's RTP, decodes the RFC 4733
// events (payload type 101, as the answering scenario offers) and measures the PCMU voice; it
// can also talk back, a steady tone in PCMU, once the engine's first packet told it where to.
class RtpPeer {
public:
    bool bind() { return socket_.bind(QHostAddress::LocalHost, 0); }
    int port() const { return socket_.localPort(); }
    // A tone of `amplitude` (of full scale) sent back every 20 ms; 0 Hz sends nothing.
    void setTone(double frequencyHz, double amplitude) {
        toneHz_ = frequencyHz;
        toneAmplitude_ = amplitude;
    }

    // Sends every packet received back to its sender `ms` later (0: no echo). A delay longer
    // than the echo canceller's reach keeps it from taking the echo for the room's.
    void setEchoDelay(int ms) { echoDelayMs_ = ms; }
    // Leaves out every n-th packet of the tone, as a lossy line would (0: none).
    void setLossEvery(int n) { lossEvery_ = n; }
    // Sends the tone `ms` late from now on, as a line whose delay changed would: made longer,
    // nothing comes for that long; made shorter, what was held back comes at once.
    void setSendDelay(int ms) { sendDelayMs_ = ms; }

    // Reads what has arrived and sends what is due; call it while waiting.
    void poll();
    // RTP packets received with payload type `pt`, and their mean payload size in bytes.
    int packetsOfType(int pt) const;
    double meanPayloadBytes(int pt) const;
    // The digits whose end packet arrived, in order.
    QString digits() const { return digits_; }
    int audioPackets() const { return audio_; }
    // Audio packets that one poll() found together with another: with poll() called every few
    // milliseconds, packets sent 20 ms apart arrive one at a time.
    int audioPacketsInBatches() const { return audioInBatches_; }
    int packets() const { return packets_; }
    // Level of the voice received since the last call, in dBFS (-120 when none arrived).
    double takeVoiceLevelDb();

private:
    void decode(const QByteArray& packet);
    void talk();

    QUdpSocket socket_;
    double toneHz_ = 0;
    double toneAmplitude_ = 0;
    QHostAddress engineAddress_;
    quint16 enginePort_ = 0;
    QElapsedTimer talkClock_;
    qint64 sentFrames_ = 0;
    QString digits_;
    std::set<quint32> ended_;
    int echoDelayMs_ = 0;
    int lossEvery_ = 0;
    int sendDelayMs_ = 0;
    QElapsedTimer echoClock_;
    std::deque<std::pair<qint64, QByteArray>> echoQueue_;
    std::map<int, std::pair<int, qint64>> byType_; // payload type -> packets, payload bytes
    int audio_ = 0;
    int audioInBatches_ = 0;
    int packets_ = 0;
    double sumSquares_ = 0;
    qint64 samples_ = 0;
};

// What the engine plays on the speaker ("spk"), or on another sink, recorded from its monitor.
class SpeakerRecorder {
public:
    bool start(const QString& monitor = QStringLiteral("spk.monitor"));
    ~SpeakerRecorder() {
        rec_.kill();
        rec_.waitForFinished(2000);
    }
    // Level of what was played since the last call, in dBFS (-120 for silence or nothing).
    double takeLevelDb();
    // True once the server has sent anything (so that what is played from now on is heard).
    bool hearing() { return rec_.bytesAvailable() > 0 || rec_.waitForReadyRead(0); }

private:
    QProcess rec_;
};

// Counts the occurrences of `value` in `list`.
int countOf(const std::vector<int>& list, int value);

// A disabled test of this program run alone in a child process with `env`, for what could crash
// the engine or needs a process environment of its own.
struct ChildRun {
    bool finished = false; // ended within the time given
    bool crashed = false;  // ended by a signal
    int exitCode = -1;
    bool passed = false; // gtest reported the one test passed
    QString output;
};
// `wrapper`: a command that runs the child inside something of its own (its last argument is
// followed by the child's command line).
ChildRun runDisabledTestInChild(const QString& test, const QProcessEnvironment& env, int timeoutMs,
                                const QStringList& wrapper = {});

} // namespace enginetest

#include "integration/test_engine_support.h"

#include "engine/Registration.h"

#include "lab/LabProcess.h"
#include "lab/Pulse.h"
#include "rtc/linphone/LinphoneClient.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QNetworkDatagram>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace enginetest {

namespace {

// liblinphone's PulseAudio backend connects once per process: the private server is up before
// any test makes a core, and stays up to the end. A child run checking "no sound server at all"
// says so in its environment.
class SoundServerEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsSet("ORVANE_LAB_NO_SOUND")) {
            lab::Pulse::useNoSoundServer();
            return;
        }
        if (!lab::Pulse::shared().start())
            ADD_FAILURE() << "the private PulseAudio server did not start";
    }
    void TearDown() override { lab::Pulse::shared().stop(); }
};

[[maybe_unused]] ::testing::Environment* const soundServer =
    ::testing::AddGlobalTestEnvironment(new SoundServerEnvironment);

} // namespace

rtc::HRESULT RecordingSink::Event(rtc::RTC_EVENT type, rtc::IUnknown* event) {
    RecordedEvent e;
    e.type = type;
    e.atMs = clock_.elapsed();
    rtc::ComPtr<rtc::IUnknown> ev(event);
    if (type == rtc::RTCE_REGISTRATION_STATE_CHANGE) {
        rtc::ComPtr<rtc::IRTCRegistrationStateChangeEvent> reg;
        if (rtc::Succeeded(ev.as(reg))) {
            rtc::RTC_REGISTRATION_STATE s{};
            reg->get_State(&s);
            e.state = s;
            reg->get_StatusCode(&e.code);
        }
    } else if (type == rtc::RTCE_SESSION_STATE_CHANGE) {
        rtc::ComPtr<rtc::IRTCSessionStateChangeEvent> ses;
        if (rtc::Succeeded(ev.as(ses))) {
            rtc::RTC_SESSION_STATE s{};
            ses->get_State(&s);
            e.state = s;
            ses->get_StatusCode(&e.code);
            ses->get_Session(e.session.put());
        }
    } else if (type == rtc::RTCE_INTENSITY) {
        rtc::ComPtr<rtc::IRTCIntensityEvent> in;
        if (rtc::Succeeded(ev.as(in))) {
            in->get_Direction(&e.direction);
            in->get_Level(&e.level);
            in->get_Min(&e.min);
            in->get_Max(&e.max);
        }
    }
    events.push_back(std::move(e));
    return rtc::S_OK;
}

std::vector<RecordedEvent> RecordingSink::ofType(rtc::RTC_EVENT type) const {
    std::vector<RecordedEvent> out;
    std::copy_if(events.begin(), events.end(), std::back_inserter(out),
                 [type](const RecordedEvent& e) { return e.type == type; });
    return out;
}

std::vector<int> RecordingSink::registrationStates() const {
    std::vector<int> out;
    for (const auto& e : ofType(rtc::RTCE_REGISTRATION_STATE_CHANGE))
        out.push_back(e.state);
    return out;
}

std::vector<int> RecordingSink::sessionStates(rtc::IRTCSession* session) const {
    std::vector<int> out;
    for (const auto& e : ofType(rtc::RTCE_SESSION_STATE_CHANGE))
        if (!session || e.session.get() == session)
            out.push_back(e.state);
    return out;
}

rtc::ComPtr<rtc::IRTCSession> RecordingSink::firstSessionIn(int state) const {
    for (const auto& e : ofType(rtc::RTCE_SESSION_STATE_CHANGE))
        if (e.state == state)
            return e.session;
    return nullptr;
}

long RecordingSink::lastRegistrationCode() const {
    const auto reg = ofType(rtc::RTCE_REGISTRATION_STATE_CHANGE);
    return reg.empty() ? -1 : reg.back().code;
}

TestEngine::TestEngine(int sipPort, const QString& soundDir) : sipPort_(sipPort) {
    EngineOptions options;
    options.dataDir = dataDir_.path() + QStringLiteral("/engine");
    options.soundDir = soundDir;
    options.sipPort = sipPort;
    if (rtc::Failed(CreateLinphoneClient(options, client_.put())) || !client_)
        return;
    if (rtc::Failed(client_->Initialize()) ||
        rtc::Failed(client_->put_EventFilter(rtc::RTCEF_ALL_TO_PROFILE)) ||
        client_->put_ListenForIncomingSessions(rtc::RTCLM_BOTH) != rtc::S_OK)
        return;
    sink_ = rtc::ComPtr<RecordingSink>(new RecordingSink);
    rtc::ComPtr<rtc::IConnectionPointContainer> container;
    rtc::ComPtr<rtc::IConnectionPoint> point;
    std::uint32_t cookie = 0;
    if (rtc::Failed(client_.as(container)) ||
        rtc::Failed(container->FindConnectionPoint(rtc::IID::IRTCEventNotification, point.put())) ||
        rtc::Failed(point->Advise(sink_.get(), &cookie)))
        return;
    ok_ = true;
}

TestEngine::~TestEngine() {
    release();
}

void TestEngine::release() {
    client_.reset();
}

rtc::ComPtr<rtc::IRTCProfile> TestEngine::createProfile(const QString& user, const QString& password,
                                                        const QString& server, rtc::HRESULT* hr) const {
    rtc::ComPtr<rtc::IRTCClientProvisioning> prov;
    rtc::ComPtr<rtc::IRTCProfile> profile;
    rtc::HRESULT r = client_.as(prov);
    if (rtc::Succeeded(r))
        r = prov->CreateProfile(BuildProfileXml(user, password, server), profile.put());
    if (hr)
        *hr = r;
    return profile;
}

rtc::HRESULT TestEngine::enable(rtc::IRTCProfile* profile) const {
    rtc::ComPtr<rtc::IRTCClientProvisioning> prov;
    const rtc::HRESULT r = client_.as(prov);
    return rtc::Failed(r) ? r : prov->EnableProfile(profile, rtc::RTCRF_REGISTER_ALL);
}

rtc::HRESULT TestEngine::disable(rtc::IRTCProfile* profile) const {
    rtc::ComPtr<rtc::IRTCClientProvisioning> prov;
    const rtc::HRESULT r = client_.as(prov);
    return rtc::Failed(r) ? r : prov->DisableProfile(profile);
}

rtc::ComPtr<rtc::IRTCProfile> TestEngine::login(const QString& user, const QString& password,
                                                const QString& server, int timeoutMs) const {
    auto profile = createProfile(user, password, server);
    const std::size_t seen = sink_->registrationStates().size();
    if (!profile || enable(profile.get()) != rtc::S_OK)
        return nullptr;
    auto outcome = [this, seen] {
        const auto states = sink_->registrationStates();
        for (std::size_t i = seen; i < states.size(); ++i)
            if (states[i] == rtc::RTCRS_REGISTERED || states[i] == rtc::RTCRS_REJECTED)
                return states[i];
        return -1;
    };
    if (!waitFor([&] { return outcome() != -1; }, timeoutMs) || outcome() != rtc::RTCRS_REGISTERED)
        return nullptr;
    return profile;
}

bool TestEngine::waitFor(const std::function<bool()>& pred, int timeoutMs) const {
    return lab::waitUntil(pred, timeoutMs);
}

namespace {

constexpr int kTelephoneEventPt = 101;
constexpr int kPcmuPt = 0;

int ulawToLinear(quint8 u) {
    u = static_cast<quint8>(~u);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) ? (0x84 - t) : (t - 0x84);
}

quint8 linearToUlaw(int sample) {
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    const int sign = sample < 0 ? 0x80 : 0;
    int magnitude = std::min(std::abs(sample), kClip) + kBias;
    int exponent = 7;
    for (int mask = 0x4000; !(magnitude & mask) && exponent > 0; mask >>= 1)
        --exponent;
    const int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
    return static_cast<quint8>(~(sign | (exponent << 4) | mantissa));
}

} // namespace

void RtpPeer::poll() {
    const int audioBefore = audio_;
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram d = socket_.receiveDatagram();
        if (enginePort_ == 0 && d.data().size() >= 12 && (static_cast<quint8>(d.data()[0]) >> 6) == 2) {
            engineAddress_ = d.senderAddress();
            enginePort_ = static_cast<quint16>(d.senderPort());
            talkClock_.start();
        }
        decode(d.data());
        if (echoDelayMs_ > 0 && enginePort_ != 0) {
            if (!echoClock_.isValid())
                echoClock_.start();
            echoQueue_.emplace_back(echoClock_.elapsed() + echoDelayMs_, d.data());
        }
    }
    if (audio_ - audioBefore >= 2)
        audioInBatches_ += audio_ - audioBefore;
    while (!echoQueue_.empty() && echoQueue_.front().first <= echoClock_.elapsed()) {
        socket_.writeDatagram(echoQueue_.front().second, engineAddress_, enginePort_);
        echoQueue_.pop_front();
    }
    talk();
}

int RtpPeer::packetsOfType(int pt) const {
    const auto it = byType_.find(pt);
    return it == byType_.end() ? 0 : it->second.first;
}

double RtpPeer::meanPayloadBytes(int pt) const {
    const auto it = byType_.find(pt);
    return it == byType_.end() || it->second.first == 0 ? 0.0 : double(it->second.second) / it->second.first;
}

void RtpPeer::talk() {
    constexpr int kFramesPerPacket = 160; // 20 ms at 8 kHz
    if (toneHz_ <= 0 || enginePort_ == 0)
        return;
    const qint64 due = (talkClock_.elapsed() - sendDelayMs_) * 8;
    // After a long pause only the last 100 ms are sent: the engine would drop older ones anyway.
    sentFrames_ = std::max(sentFrames_, due - 800);
    while (sentFrames_ + kFramesPerPacket <= due) {
        QByteArray packet(12 + kFramesPerPacket, Qt::Uninitialized);
        const auto seq = static_cast<quint16>(sentFrames_ / kFramesPerPacket);
        const auto ts = static_cast<quint32>(sentFrames_);
        const char header[12] = {char(0x80),     char(kPcmuPt),  char(seq >> 8), char(seq),
                                 char(ts >> 24), char(ts >> 16), char(ts >> 8),  char(ts),
                                 0x12,           0x34,           0x56,           0x78};
        std::copy(header, header + 12, packet.begin());
        for (int i = 0; i < kFramesPerPacket; ++i) {
            const double t = double(sentFrames_ + i) / 8000.0;
            const int v =
                int(std::lround(toneAmplitude_ * 32767.0 * std::sin(2.0 * std::numbers::pi * toneHz_ * t)));
            packet[12 + i] = char(linearToUlaw(v));
        }
        if (lossEvery_ == 0 || seq % lossEvery_ != lossEvery_ - 1)
            socket_.writeDatagram(packet, engineAddress_, enginePort_);
        sentFrames_ += kFramesPerPacket;
    }
}

double RtpPeer::takeVoiceLevelDb() {
    const double rms = samples_ ? std::sqrt(sumSquares_ / samples_) : 0.0;
    sumSquares_ = 0;
    samples_ = 0;
    return rms > 0 ? std::max(-120.0, 20.0 * std::log10(rms / 32768.0)) : -120.0;
}

void RtpPeer::decode(const QByteArray& p) {
    ++packets_;
    if (p.size() < 12 || (static_cast<quint8>(p[0]) >> 6) != 2)
        return; // not RTP (liblinphone also sends STUN probes)
    const auto byte = [&](int i) { return static_cast<quint8>(p[i]); };
    const int csrcCount = byte(0) & 0x0F;
    const bool extension = byte(0) & 0x10;
    const int pt = byte(1) & 0x7F;
    const quint32 timestamp =
        (quint32(byte(4)) << 24) | (quint32(byte(5)) << 16) | (quint32(byte(6)) << 8) | quint32(byte(7));
    int offset = 12 + 4 * csrcCount;
    if (extension) {
        if (p.size() < offset + 4)
            return;
        offset += 4 + 4 * ((byte(offset + 2) << 8) | byte(offset + 3));
    }
    auto& seen = byType_[pt];
    ++seen.first;
    seen.second += p.size() - offset;
    if (pt == kPcmuPt) {
        ++audio_;
        for (int i = offset; i < p.size(); ++i) {
            const double v = ulawToLinear(byte(i));
            sumSquares_ += v * v;
            ++samples_;
        }
        return;
    }
    if (pt != kTelephoneEventPt || p.size() < offset + 4)
        return;
    const int event = byte(offset);
    const bool end = byte(offset + 1) & 0x80;
    // The end packet is sent three times; one event is one timestamp.
    if (!end || !ended_.insert(timestamp).second)
        return;
    if (event <= 9)
        digits_ += QChar('0' + event);
    else if (event == 10)
        digits_ += QLatin1Char('*');
    else if (event == 11)
        digits_ += QLatin1Char('#');
    else
        digits_ += QLatin1Char('?');
}

int countOf(const std::vector<int>& list, int value) {
    return static_cast<int>(std::count(list.begin(), list.end(), value));
}

bool SpeakerRecorder::start(const QString& monitor) {
    rec_.start(QStringLiteral("parec"),
               {QStringLiteral("--device=") + monitor, QStringLiteral("--latency-msec=20"),
                QStringLiteral("--rate=8000"), QStringLiteral("--channels=1"),
                QStringLiteral("--format=s16le"), QStringLiteral("--raw")});
    return rec_.waitForStarted(3000);
}

double SpeakerRecorder::takeLevelDb() {
    const QByteArray data = rec_.readAllStandardOutput();
    double sum = 0;
    const qsizetype n = data.size() / 2;
    for (qsizetype i = 0; i < n; ++i) {
        const auto v =
            static_cast<qint16>(quint16(quint8(data[2 * i])) | (quint16(quint8(data[2 * i + 1])) << 8));
        sum += double(v) * v;
    }
    const double rms = n ? std::sqrt(sum / n) : 0.0;
    return rms > 0 ? std::max(-120.0, 20.0 * std::log10(rms / 32768.0)) : -120.0;
}

ChildRun runDisabledTestInChild(const QString& test, const QProcessEnvironment& env, int timeoutMs,
                                const QStringList& wrapper) {
    ChildRun run;
    QProcess child;
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    QStringList command = wrapper;
    command << QCoreApplication::applicationFilePath() << QStringLiteral("--gtest_also_run_disabled_tests")
            << QStringLiteral("--gtest_filter=") + test;
    child.start(command.takeFirst(), command);
    if (!child.waitForStarted(5000))
        return run;
    run.finished = child.waitForFinished(timeoutMs);
    run.output = QString::fromLocal8Bit(child.readAll());
    run.crashed = child.exitStatus() != QProcess::NormalExit;
    run.exitCode = child.exitCode();
    run.passed = run.output.contains(QStringLiteral("[  PASSED  ] 1 test"));
    return run;
}

} // namespace enginetest

#include "lab/Pulse.h"

#include <QDataStream>
#include <QDir>
#include <QFile>

#include <cmath>
#include <functional>
#include <numbers>

namespace lab {

namespace {

// Client settings of the tests: never spawn a server behind the tests' back.
QString clientConfig() {
    const QString path = runDir() + QStringLiteral("/pulse-client.conf");
    if (!QFile::exists(path)) {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.write("autospawn = no\n");
    }
    return path;
}

} // namespace

Pulse& Pulse::shared() {
    static Pulse* pulse = new Pulse; // stopped explicitly; never destroyed after QCoreApplication
    return *pulse;
}

void Pulse::useNoSoundServer() {
    qputenv("PULSE_SERVER",
            (QStringLiteral("unix:") + runDir() + QStringLiteral("/no-sound-server")).toUtf8());
    qputenv("PULSE_CLIENTCONFIG", clientConfig().toUtf8());
}

QString Pulse::kind() {
    return qEnvironmentVariable("ORVANE_LAB_SOUND") == QLatin1String("pipewire")
               ? QStringLiteral("pipewire")
               : QStringLiteral("pulseaudio");
}

bool Pulse::start() {
    if (running())
        return true;
    // A folder of its own for each server of the run (a test may start one beside the shared one).
    static int serial = 0;
    if (dir_.isEmpty())
        dir_ = runDir() + QStringLiteral("/%1-%2").arg(kind()).arg(++serial);
    const QString dir = dir_;
    QDir().mkpath(dir + QStringLiteral("/xdg"));
    QDir().mkpath(dir + QStringLiteral("/home"));
    QFile::setPermissions(dir + QStringLiteral("/xdg"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // The server's own files stay in the run folder, whoever runs the tests.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir + QStringLiteral("/xdg"));
    env.insert(QStringLiteral("HOME"), dir + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/home/.config"));
    env.remove(QStringLiteral("PULSE_SERVER"));
    if (kind() == QLatin1String("pipewire")) {
        socket_ = dir + QStringLiteral("/xdg/pulse/native");
        QFile::remove(socket_);
        if (!startPipeWire(env)) {
            stop();
            return false;
        }
    } else {
        socket_ = dir + QStringLiteral("/pulse.sock");
        QFile::remove(socket_);
        if (!startPulseAudio(env))
            return false;
    }

    if (!exported_) {
        savedServer_ = qgetenv("PULSE_SERVER");
        savedClientConfig_ = qgetenv("PULSE_CLIENTCONFIG");
        exported_ = true;
    }
    qputenv("PULSE_SERVER", serverAddress().toUtf8());
    qputenv("PULSE_CLIENTCONFIG", clientConfig().toUtf8());

    const bool up = waitUntil(
        [this] {
            return !running() || runToEnd(QStringLiteral("pactl"), {QStringLiteral("info")}, 2000) == 0;
        },
        10000);
    if (!up || !running()) {
        stop();
        return false;
    }
    if (kind() == QLatin1String("pipewire")) {
        // pipewire-pulse makes the same devices through its own module loader; it has no sine
        // module, so a player of the lab's own feeds the microphone its tone.
        const QStringList modules{
            QStringLiteral("module-null-sink sink_name=spk sink_properties=device.description=NullSpeaker"),
            QStringLiteral("module-null-sink sink_name=micsink sink_properties=device.description=MicFeed"),
            QStringLiteral("module-remap-source master=micsink.monitor source_name=mic "
                           "source_properties=device.description=TestMicrophone")};
        for (const QString& module : modules)
            if (runToEnd(QStringLiteral("pactl"),
                         QStringList{QStringLiteral("load-module")} + module.split(QLatin1Char(' '))) != 0) {
                stop();
                return false;
            }
        auto tone = std::make_unique<Process>(QStringLiteral("tone"));
        if (!tone->start(QStringLiteral("/usr/bin/python3"),
                         {QStringLiteral(ORVANE_LAB_DIR "/tone.py"), QStringLiteral("micsink"),
                          QStringLiteral("300")})) {
            stop();
            return false;
        }
        helpers_.push_back(std::move(tone));
    }
    if (runToEnd(QStringLiteral("pactl"), {QStringLiteral("set-default-sink"), QStringLiteral("spk")}) != 0 ||
        runToEnd(QStringLiteral("pactl"), {QStringLiteral("set-default-source"), QStringLiteral("mic")}) !=
            0) {
        stop();
        return false;
    }
    // The first recording from the microphone waits over a second for the sinks to settle; later
    // ones start at once. Settle it here, not in a test's first call.
    if (!microphoneDelivers(5000)) {
        stop();
        return false;
    }
    return true;
}

bool Pulse::startPipeWire(QProcessEnvironment env) {
    const QString xdg = env.value(QStringLiteral("XDG_RUNTIME_DIR"));
    const QString bus = xdg + QStringLiteral("/bus");
    QFile::remove(bus);
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + bus);
    auto launch = [&](const QString& name, const QStringList& args, const std::function<bool()>& ready) {
        auto p = std::make_unique<Process>(name);
        const bool started = p->start(name, args, env);
        Process* raw = p.get();
        helpers_.push_back(std::move(p));
        return started && waitUntil([&] { return !raw->running() || ready(); }, 10000) && raw->running();
    };
    // Each waits for the one before: WirePlumber and pipewire-pulse need PipeWire's socket.
    return launch(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--config-file=/usr/share/dbus-1/session.conf"), QStringLiteral("--nofork"),
                   QStringLiteral("--nopidfile"), QStringLiteral("--address=unix:path=") + bus},
                  [&] { return QFile::exists(bus); }) &&
           launch(QStringLiteral("pipewire"), {},
                  [&] { return QFile::exists(xdg + QStringLiteral("/pipewire-0")); }) &&
           launch(QStringLiteral("wireplumber"), {}, [] { return true; }) &&
           server_.start(QStringLiteral("pipewire-pulse"), {}, env);
}

bool Pulse::startPulseAudio(const QProcessEnvironment& env) {
    return server_.start(
        QStringLiteral("pulseaudio"),
        {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
         QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-target=stderr"),
         QStringLiteral("--log-level=error"), QStringLiteral("-L"),
         QStringLiteral("module-native-protocol-unix socket=%1 auth-anonymous=1").arg(socket_),
         QStringLiteral("-L"),
         QStringLiteral("module-null-sink sink_name=spk sink_properties=device.description=NullSpeaker"),
         QStringLiteral("-L"),
         QStringLiteral("module-null-sink sink_name=micsink sink_properties=device.description=MicFeed"),
         // The microphone hears a steady 300 Hz tone: a sine played into "micsink", whose monitor
         // is offered as a real source (a bare monitor is not listed as a capture device). A
         // silent low-latency loopback into "micsink" keeps it rendering in small blocks; alone,
         // a null sink renders seconds at a time and a call's microphone would stay silent that
         // long. (module-sine-source is no good either: it delivers in bursts seconds apart.)
         // The microphone comes first: liblinphone takes the first capture device it lists.
         QStringLiteral("-L"),
         QStringLiteral("module-remap-source master=micsink.monitor source_name=mic "
                        "source_properties=device.description=TestMicrophone"),
         QStringLiteral("-L"), QStringLiteral("module-sine sink=micsink frequency=300"), QStringLiteral("-L"),
         QStringLiteral("module-null-source source_name=quiet description=Quiet"), QStringLiteral("-L"),
         QStringLiteral("module-loopback source=quiet sink=micsink latency_msec=20"),
         // The same for the speaker, so that its monitor records what is played as it plays.
         QStringLiteral("-L"), QStringLiteral("module-loopback source=quiet sink=spk latency_msec=20")},
        env);
}

bool Pulse::microphoneDelivers(int timeoutMs) {
    QProcess rec;
    rec.start(QStringLiteral("parec"), {QStringLiteral("--device=mic"), QStringLiteral("--latency-msec=20"),
                                        QStringLiteral("--rate=8000"), QStringLiteral("--channels=1"),
                                        QStringLiteral("--format=s16le"), QStringLiteral("--raw")});
    if (!rec.waitForStarted(3000))
        return false;
    qint64 received = 0;
    // A fifth of a second of sound.
    const bool ok = waitUntil(
                        [&] {
                            received += rec.readAllStandardOutput().size();
                            return received >= 3200 || rec.state() == QProcess::NotRunning;
                        },
                        timeoutMs) &&
                    received >= 3200;
    rec.kill();
    rec.waitForFinished(2000);
    return ok;
}

void Pulse::stop() {
    // The tone first, pipewire-pulse and WirePlumber before PipeWire, the D-Bus session last.
    if (!helpers_.empty())
        helpers_.back()->stop();
    server_.stop();
    while (!helpers_.empty()) {
        helpers_.back()->stop();
        helpers_.pop_back();
    }
    if (exported_) {
        if (savedServer_.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", savedServer_);
        if (savedClientConfig_.isNull())
            qunsetenv("PULSE_CLIENTCONFIG");
        else
            qputenv("PULSE_CLIENTCONFIG", savedClientConfig_);
        exported_ = false;
    }
}

bool writeToneWav(const QString& path, double frequencyHz, double seconds, int sampleRate, double amplitude) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const auto frames = static_cast<quint32>(seconds * sampleRate);
    const quint32 dataBytes = frames * 2;
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(sampleRate) << quint32(sampleRate * 2)
        << quint16(2) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(dataBytes);
    for (quint32 i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2.0 * std::numbers::pi * frequencyHz * i / sampleRate);
        out << static_cast<qint16>(std::lround(v * 32767.0));
    }
    return out.status() == QDataStream::Ok;
}

} // namespace lab

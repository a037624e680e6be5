// The sound card of headless tests: a private sound server with two null sinks, "spk" (the
// speaker, the default sink; its monitor records what was played) and "micsink" (a second
// playback device to choose; what plays there is heard by the microphone), and a microphone "mic"
// that hears a steady 300 Hz tone. Its socket
// lives in the run folder; PULSE_SERVER points there while it runs. The other way to run: no
// sound server at all.
//
// The server is PulseAudio, or PipeWire (pipewire, WirePlumber and pipewire-pulse under a private
// D-Bus session, as Debian 12 desktops run it) when ORVANE_LAB_SOUND=pipewire: the same devices
// through the same protocol, so every test runs unchanged on either.
//
// liblinphone's PulseAudio backend connects once per process and never reconnects: start the
// server before the first engine core of the process and keep it (Pulse::shared()), and check
// "no sound server" in a process of its own.
#pragma once

#include "lab/LabProcess.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace lab {

class Pulse {
public:
    Pulse() = default;
    ~Pulse() { stop(); }
    Pulse(const Pulse&) = delete;
    Pulse& operator=(const Pulse&) = delete;

    // The server shared by all tests of this process (not started until asked).
    static Pulse& shared();
    // Makes this process (and what it starts) find no sound server: PULSE_SERVER names a
    // socket nobody listens on and the client may not spawn a server of its own.
    static void useNoSoundServer();

    // Which server the tests of this process get: "pulseaudio" or "pipewire".
    static QString kind();

    // Starts the server and waits until it answers; exports PULSE_SERVER and PULSE_CLIENTCONFIG.
    bool start();
    // Stops the server and restores the environment it changed.
    void stop();
    bool running() const { return server_.running(); }
    QString serverAddress() const { return QStringLiteral("unix:") + socket_; }
    QString socketPath() const { return socket_; }
    // The process behind the socket (pulseaudio, or pipewire-pulse).
    qint64 pid() const { return server_.pid(); }

private:
    bool startPulseAudio(const QProcessEnvironment& env);
    bool startPipeWire(QProcessEnvironment env);
    bool microphoneDelivers(int timeoutMs);

    Process server_{QStringLiteral("pulseaudio")};
    // PipeWire's other processes: the D-Bus session, pipewire, WirePlumber, the microphone's tone.
    std::vector<std::unique_ptr<Process>> helpers_;
    QString dir_;
    QString socket_;
    QByteArray savedServer_;
    QByteArray savedClientConfig_;
    bool exported_ = false;
};

// Writes a 16-bit mono WAV file with a sine tone (amplitude 0..1 of full scale).
bool writeToneWav(const QString& path, double frequencyHz, double seconds, int sampleRate = 8000,
                  double amplitude = 0.3);

} // namespace lab

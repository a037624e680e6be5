// The sound server (PulseAudio, or PipeWire in its place) the engine's sound goes through, seen
// from its local socket. liblinphone's PulseAudio driver connects once and keeps using that
// connection after the server went away, which crashes the next sound it opens; the engine
// watches the server through this and reloads its devices when it goes or comes back.
#pragma once

#include <QByteArray>

class SoundServer {
public:
    // The socket from PULSE_SERVER (its first local one), else $XDG_RUNTIME_DIR/pulse/native.
    SoundServer();

    static constexpr long long kUnknown = -1; // not reached through a local socket
    static constexpr long long kNone = 0;     // no server there
    // The server now, told apart by its socket: a server makes its socket anew each time it
    // starts. Cheap (one stat). With `probe`, also connects, to tell a server that died and left
    // its socket behind from a live one.
    long long current(bool probe) const;

private:
    QByteArray path_;
};

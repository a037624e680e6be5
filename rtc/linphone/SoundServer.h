// The sound server (PulseAudio, or PipeWire in its place) the engine's sound goes through, seen
// from its local socket. liblinphone's PulseAudio driver connects once and keeps using that
// connection after the server went away, which crashes the next sound it opens; the engine
// watches the server through this and reloads its devices when it goes or comes back.
#pragma once

#include <QByteArray>

#include <chrono>
#include <sys/types.h>

class SoundServer {
public:
    // The socket from PULSE_SERVER (its first local one), else $XDG_RUNTIME_DIR/pulse/native.
    SoundServer();

    static constexpr long long kLeaving = -2; // changing: the server last seen has not exited yet
    static constexpr long long kUnknown = -1; // not reached through a local socket
    static constexpr long long kNone = 0;     // no server there
    // The server now, told apart by its socket and the process behind it: a server makes its
    // socket anew each time it starts. Cheap (one stat). With `probe`, also connects, to tell a
    // server that died and left its socket behind from a live one, and a server that replaced
    // another under the same inode.
    //
    // A server removes its socket before it drops its clients, and the driver asked to list the
    // devices while its connection still looks alive waits for an answer for good once the
    // server is gone. So a change away from a server is told only once that server's process
    // has exited and a moment has passed for the driver to see its connection close; until
    // then the answer is kLeaving.
    long long current(bool probe);

private:
    // The server's identity (> 0), kNone, or kUnknown, without the settling above.
    long long observe(bool probe);
    bool lastServerExited();

    QByteArray path_;
    long long seen_ = kUnknown;  // what current() last told
    pid_t seenPid_ = 0;          // the process behind seen_, when known
    long long probedInode_ = -1; // the socket last connected to, what it was, and its process
    long long probed_ = kUnknown;
    pid_t probedPid_ = 0;
    long long servers_ = kNone; // servers told apart so far
    bool leaving_ = false;
    bool exited_ = false;
    std::chrono::steady_clock::time_point leavingSince_;
    std::chrono::steady_clock::time_point exitedSince_;
};

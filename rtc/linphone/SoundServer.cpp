#include "rtc/linphone/SoundServer.h"

#include <QList>
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// From the server's exit until the driver has surely read the end of its connection.
constexpr auto kCloseSeen = 250ms;
// A server whose process cannot be looked at, or that takes this long to exit, counts as gone.
constexpr auto kUnknownProcessWait = 1s;
constexpr auto kSlowExitWait = 5s;

// Still running: alive and not a zombie waiting for its parent.
bool running(pid_t pid) {
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return false;
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno != ENOENT;
    char buf[512];
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0)
        return true;
    buf[n] = '\0';
    // "pid (name) S ...": the state follows the last parenthesis.
    const char* close = std::strrchr(buf, ')');
    return !close || close[1] != ' ' || (close[2] != 'Z' && close[2] != 'X');
}

} // namespace

SoundServer::SoundServer() {
    const QByteArray servers = qgetenv("PULSE_SERVER").trimmed();
    if (servers.isEmpty()) {
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (!runtime.isEmpty())
            path_ = runtime + "/pulse/native";
        return;
    }
    // "[{machine}]unix:/path", "/path" or a network address, several separated by blanks.
    for (QByteArray entry : servers.split(' ')) {
        if (entry.startsWith('{')) {
            const qsizetype close = entry.indexOf('}');
            entry = close < 0 ? QByteArray() : entry.mid(close + 1);
        }
        if (entry.startsWith("unix:"))
            entry = entry.mid(5);
        if (entry.startsWith('/')) {
            path_ = entry;
            return;
        }
    }
}

long long SoundServer::observe(bool probe) {
    sockaddr_un addr = {};
    if (path_.isEmpty() || static_cast<size_t>(path_.size()) >= sizeof addr.sun_path)
        return kUnknown;
    struct stat st = {};
    if (::stat(path_.constData(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return kNone;
    const auto inode = static_cast<long long>(st.st_ino);
    if (!probe && inode == probedInode_)
        return probed_;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.constData(), static_cast<size_t>(path_.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kUnknown;
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ucred peer = {};
    socklen_t len = sizeof peer;
    if (answers && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0)
        peer.pid = 0;
    ::close(fd);
    // A file system hands the number of a removed file to the next one made: a server started
    // anew may get the inode its predecessor had. Another process behind it is another server.
    if (!answers)
        probed_ = kNone; // left behind by a server that no longer answers
    else if (inode != probedInode_ || probed_ <= kNone || peer.pid != probedPid_)
        probed_ = ++servers_;
    probedInode_ = inode;
    probedPid_ = answers ? peer.pid : 0;
    return probed_;
}

bool SoundServer::lastServerExited() {
    const auto now = Clock::now();
    if (!leaving_) {
        leaving_ = true;
        exited_ = false;
        leavingSince_ = now;
    }
    if (seenPid_ <= 0)
        return now - leavingSince_ >= kUnknownProcessWait;
    if (!exited_) {
        if (running(seenPid_) && now - leavingSince_ < kSlowExitWait)
            return false;
        exited_ = true;
        exitedSince_ = now;
    }
    return now - exitedSince_ >= kCloseSeen;
}

long long SoundServer::current(bool probe) {
    const long long id = observe(probe);
    if (id == kUnknown)
        return kUnknown;
    if (id != seen_ && seen_ > kNone && !lastServerExited())
        return kLeaving;
    leaving_ = false;
    seen_ = id;
    seenPid_ = id > kNone ? probedPid_ : 0;
    return id;
}

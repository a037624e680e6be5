#include "engine/linphone/SoundServer.h"

#include <QList>
#include <QtGlobal>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

long long SoundServer::current() const {
    sockaddr_un addr = {};
    if (path_.isEmpty() || static_cast<size_t>(path_.size()) >= sizeof addr.sun_path)
        return kUnknown;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.constData(), static_cast<size_t>(path_.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kUnknown;
    long long server = kNone;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
        ucred peer = {};
        socklen_t length = sizeof peer;
        server =
            ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid > 0 ? peer.pid : 1;
    }
    ::close(fd);
    return server;
}

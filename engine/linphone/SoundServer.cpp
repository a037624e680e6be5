#include "engine/linphone/SoundServer.h"

#include <QList>
#include <QtGlobal>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
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

long long SoundServer::current(bool probe) const {
    sockaddr_un addr = {};
    if (path_.isEmpty() || static_cast<size_t>(path_.size()) >= sizeof addr.sun_path)
        return kUnknown;
    struct stat st = {};
    if (::stat(path_.constData(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return kNone;
    const long long id = static_cast<long long>(st.st_ino) + 1;
    if (!probe)
        return id;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path_.constData(), static_cast<size_t>(path_.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kUnknown;
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return answers ? id : kNone;
}

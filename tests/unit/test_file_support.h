// A file the program finds but cannot read. Root reads every file whatever its mode, so as root
// the check runs in a child process that became the unprivileged user "nobody", with the folder
// given to that user (it may replace files there) and the file left to root.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <functional>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace filetest {

// Runs `body` as a user who cannot read `file` but may write in `dir` (and every folder from
// `top` down to it); true when `body` returned true.
inline bool WithUnreadableFile(const QString& top, const QString& dir, const QString& file,
                               const std::function<bool()>& body) {
    if (::geteuid() != 0) {
        ::chmod(QFile::encodeName(file).constData(), 0);
        const bool ok = body();
        ::chmod(QFile::encodeName(file).constData(), 0600);
        return ok;
    }
    constexpr uid_t kNobody = 65534;
    const QByteArray path = QFile::encodeName(file);
    if (::chown(path.constData(), 0, 0) != 0 || ::chmod(path.constData(), 0600) != 0)
        return false;
    for (QString d = dir; d.startsWith(top); d = d.section(QLatin1Char('/'), 0, -2))
        if (::chown(QFile::encodeName(d).constData(), kNobody, kNobody) != 0)
            return false;
    // The other files of the folder stay readable to that user.
    for (const QFileInfo& other : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden))
        if (other.absoluteFilePath() != QFileInfo(file).absoluteFilePath() &&
            ::chown(QFile::encodeName(other.absoluteFilePath()).constData(), kNobody, kNobody) != 0)
            return false;
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
        ::_exit(dropped && body() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

} // namespace filetest

#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace paths {

bool ensurePrivateDir(const QString& dir) {
    QDir d(dir);
    if (d.exists())
        return true;
    if (!d.mkpath(QStringLiteral(".")))
        return false;
    return QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString dataDir() {
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                        QStringLiteral("/Kestu/SoftPhone");
    ensurePrivateDir(dir);
    return dir;
}

QString engineDir() {
    const QString dir = dataDir() + QStringLiteral("/engine");
    ensurePrivateDir(dir);
    return dir;
}

namespace {

// Makes the folder (not its parents) when missing, then checks that it is a real folder of this
// user's that nobody else may enter. Nothing is mended: a folder someone else could reach into
// may already hold what they put there.
bool OwnPrivateFolder(const QString& dir, QString* why) {
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), 0700) == 0)
        return true;
    struct stat st = {};
    const auto refuse = [&](const QString& reason) {
        if (why)
            *why = QStringLiteral("The phone cannot keep its lock and link socket in %1: %2.\n"
                                  "Set XDG_RUNTIME_DIR to a folder of your own that only you can open "
                                  "(mode 0700).")
                       .arg(dir, reason);
        return false;
    };
    if (errno != EEXIST || ::lstat(path.constData(), &st) != 0)
        return refuse(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return refuse(QStringLiteral("it is not a folder"));
    if (st.st_uid != ::geteuid())
        return refuse(QStringLiteral("it belongs to another user"));
    if ((st.st_mode & 07777) != 0700)
        return refuse(
            QStringLiteral("others may open it (mode %1)").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')));
    return true;
}

} // namespace

QString runtimeDir(QString* why) {
    // Qt checks XDG_RUNTIME_DIR, and its own fallback, the same way; it answers nothing when its
    // fallback is not private.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/orvane-softphone-") + QString::number(::geteuid());
    return OwnPrivateFolder(dir, why) ? dir : QString();
}

QString soundDir() {
    const QString app = QCoreApplication::applicationDirPath();
    const QStringList candidates = {
        app + QStringLiteral("/sounds"),                           // build folder
        app + QStringLiteral("/../share/orvane-softphone/sounds"), // installed
        QStringLiteral(ORVANE_SOUND_DIR),                          // build tree, for tests
    };
    for (const QString& c : candidates)
        if (QFileInfo::exists(c + QStringLiteral("/ring.wav")))
            return QDir(c).canonicalPath();
    return candidates.first();
}

} // namespace paths

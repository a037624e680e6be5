#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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

QString runtimeDir() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath() + QStringLiteral("/orvane-softphone-") + qEnvironmentVariable("USER");
    ensurePrivateDir(dir);
    return dir;
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

#include "history/LoginSettings.h"

#include "platform/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <sys/stat.h>

namespace {

constexpr QFile::Permissions kPrivateFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kPrivateDir = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

QSettings Store() {
    return QSettings(QStringLiteral("Kestu"), QStringLiteral("SoftPhone"));
}

// Everything created while it lives (the folder, the temporary file QSettings writes before
// renaming it over the old one) is private from its first moment. The umask belongs to the
// process; this runs on the UI thread and only ever narrows what other threads create.
class PrivateUmask {
public:
    PrivateUmask() : old_(::umask(077)) {}
    ~PrivateUmask() { ::umask(old_); }
    PrivateUmask(const PrivateUmask&) = delete;
    PrivateUmask& operator=(const PrivateUmask&) = delete;

private:
    mode_t old_;
};

} // namespace

QString LoginSettings::fileName() {
    return Store().fileName();
}

std::optional<QString> LoginSettings::read(const QString& name) const {
    const QVariant v = Store().value(name);
    // A value written as a list, a number or any other type comes back with that type.
    if (v.metaType().id() != QMetaType::QString)
        return std::nullopt;
    QString s = v.toString();
    if (s.size() > kMaxValueLength)
        return std::nullopt;
    return s;
}

bool LoginSettings::write(const QString& name, const QString& value) {
    return write({{name, value}});
}

bool LoginSettings::write(const QList<std::pair<QString, QString>>& values) {
    const PrivateUmask privateUmask;
    const QString file = fileName();
    const QString dir = QFileInfo(file).absolutePath();
    if (!paths::ensurePrivateDir(dir))
        return false;
    QFile::setPermissions(dir, kPrivateDir);
    // An older, looser file would lend its mode to the rewritten one.
    if (QFileInfo::exists(file))
        QFile::setPermissions(file, kPrivateFile);

    QSettings::Status status;
    {
        QSettings store = Store();
        for (const auto& [name, value] : values)
            store.setValue(name, value);
        store.sync();
        status = store.status();
    }
    // A format error only tells that the old file could not be read; the value was written.
    if (status == QSettings::AccessError)
        return false;
    return QFile::setPermissions(file, kPrivateFile);
}

bool LoginSettings::saveChecked() const {
    return read(kSave) == QStringLiteral("Y");
}

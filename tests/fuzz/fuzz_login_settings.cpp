// The saved login: the settings file as the program reads it at start-up, and saving a value into
// whatever the file held.
#include "FuzzSupport.h"

#include "history/LoginSettings.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <fuzzer/FuzzedDataProvider.h>

#include <iterator>

namespace {

QString g_file;

// QSettings keeps what it read of a file in the process and reads it again only when the file's
// size or modification time (to the millisecond) changed: inputs of one size written within a
// millisecond would all see the first one. Each write therefore gets a time of its own.
void Restamp() {
    static qint64 stamp = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    QFile file(g_file);
    FUZZ_CHECK(file.open(QIODevice::ReadWrite));
    FUZZ_CHECK(file.setFileTime(QDateTime::fromMSecsSinceEpoch(++stamp, Qt::UTC),
                                QFileDevice::FileModificationTime));
}

void WriteSettings(const uint8_t* data, size_t size) {
    fuzz::WriteFile(g_file, data, size);
    Restamp();
}

void WriteSettings(const char* text) {
    WriteSettings(reinterpret_cast<const uint8_t*>(text), qstrlen(text));
}

} // namespace

// A typed value (@Variant) can claim billions of elements, and Qt reserves room for them from the
// count alone before it finds the data missing. A real process survives that (the memory is never
// touched, or the allocation fails and Qt stops reading), but ASan would dirty gigabytes of shadow
// memory for it: here an allocation over 1 GB fails instead, as it would on a small machine.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Before anything asks Qt where the settings live: it keeps the answer.
    const QString config = fuzz::ScratchDir() + QStringLiteral("/config");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
    g_file = config + QStringLiteral("/Kestu/SoftPhone.conf");
    FUZZ_CHECK_MSG(LoginSettings::fileName() == g_file, LoginSettings::fileName());
    FUZZ_CHECK(QDir().mkpath(config + QStringLiteral("/Kestu")));

    // The program reads its settings with its application object up: a value stored as a typed
    // variant (@Variant) can be an image or a cursor, which Qt refuses to make without one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Its own arguments: Qt would take options of its own out of the fuzzer's.
    static int argc = 1;
    static char name[] = "fuzz_login_settings";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);

    // Each input must really be read: two files of one size, one right after the other.
    const LoginSettings settings;
    WriteSettings("UserName=first\n");
    FUZZ_CHECK(settings.read(LoginSettings::kUserName) == QStringLiteral("first"));
    WriteSettings("UserName=again\n");
    FUZZ_CHECK(settings.read(LoginSettings::kUserName) == QStringLiteral("again"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString names[] = {LoginSettings::kUserName,        LoginSettings::kPassword,
                             LoginSettings::kServer,          LoginSettings::kAccountNumber,
                             LoginSettings::kAccountPassword, LoginSettings::kSave};

    // Any file: every value the program looks up is either absent or a string it can use.
    WriteSettings(data, size);
    const LoginSettings settings;
    for (const QString& name : names) {
        const std::optional<QString> value = settings.read(name);
        FUZZ_CHECK(!value || value->size() <= LoginSettings::kMaxValueLength);
    }
    FUZZ_CHECK(settings.saveChecked() == (settings.read(LoginSettings::kSave) == QStringLiteral("Y")));

    // Saving the login into that file: the value typed reads back from the file, which stays
    // private.
    FuzzedDataProvider in(data, size);
    const QString& name = names[in.ConsumeIntegralInRange<size_t>(0, std::size(names) - 1)];
    QString value = QString::fromStdString(in.ConsumeRandomLengthString());
    // Qt 6.4's INI reader drops a U+FEFF at the start of a value or right after an escape such
    // as \t (its UTF-8 decoder takes it for a byte-order mark): Qt's to mend, not ours.
    value.remove(QChar(0xFEFF));
    value.truncate(LoginSettings::kMaxValueLength);
    if (!value.isEmpty() && value.back().isHighSurrogate())
        value.chop(1); // half a character cannot be stored
    LoginSettings saved;
    // QSettings reports a file it could not parse as an error, even though it rewrites it.
    if (!saved.write(name, value))
        return 0;
    FUZZ_CHECK((QFile::permissions(g_file) &
                ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser)) == 0);
    Restamp();
    FUZZ_CHECK_MSG(saved.read(name) == value,
                   fuzz::Dump(value) + u'\n' +
                       fuzz::Dump(saved.read(name).value_or(QStringLiteral("(none)"))));
    return 0;
}

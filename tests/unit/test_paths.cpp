// Where the single-instance lock and the link socket live: never in a folder another user made
// or may reach into.
#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// XDG_RUNTIME_DIR unset and the temporary folder pointed elsewhere for the test's length.
struct NoRuntimeDir {
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    QByteArray tmp = qgetenv("TMPDIR");
    QTemporaryDir dir;
    NoRuntimeDir() {
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
    }
    ~NoRuntimeDir() {
        qputenv("XDG_RUNTIME_DIR", runtime);
        qputenv("TMPDIR", tmp);
    }
    // The folders the fallbacks would use, made first by someone else (or made open to all).
    void takeFallbacks() const {
        for (const QString& name : QDir(dir.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray path = QFile::encodeName(dir.filePath(name));
            if (::geteuid() == 0)
                ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
            else
                ASSERT_EQ(::chmod(path.constData(), 0777), 0);
        }
    }
};

} // namespace

TEST(RuntimeDir, WithoutXdgRuntimeDirAFolderOfSomeoneElsesIsRefusedWithTheReason) {
    NoRuntimeDir env;
    // Free to make: a private folder of the user's own.
    QString why;
    const QString first = paths::runtimeDir(&why);
    ASSERT_FALSE(first.isEmpty()) << why.toStdString();
    EXPECT_TRUE(first.startsWith(env.dir.path()));
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(first).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    EXPECT_EQ(st.st_uid, ::geteuid());

    // Another user got there first: every folder the phone could fall back to is theirs.
    ASSERT_TRUE(QDir(first).removeRecursively());
    ASSERT_TRUE(paths::runtimeDir().size() > 0); // makes Qt's fallback and ...
    const QString ours = env.dir.filePath("orvane-softphone-" + QString::number(::geteuid()));
    ASSERT_TRUE(QDir().mkpath(ours)); // ... the program's own
    env.takeFallbacks();
    why.clear();
    EXPECT_TRUE(paths::runtimeDir(&why).isEmpty());
    EXPECT_TRUE(why.contains(ours)) << why.toStdString();
    EXPECT_TRUE(why.contains(::geteuid() == 0 ? "belongs to another user" : "others may open it"))
        << why.toStdString();
}

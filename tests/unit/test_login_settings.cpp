// The saved login: which stored values are taken, "Save", and the privacy of the file holding
// the password.
#include "history/LoginSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

mode_t Mode(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

QString Dir() {
    return QFileInfo(LoginSettings::fileName()).absolutePath();
}

void WriteRaw(const QByteArray& text) {
    QDir().mkpath(Dir());
    QFile f(LoginSettings::fileName());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("[General]\n" + text + "\n");
}

} // namespace

class LoginSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        const QString f = LoginSettings::fileName();
        if (QFileInfo(f).isDir())
            QDir(f).removeRecursively();
        QFile::remove(f);
    }
    LoginSettings settings;
};

TEST_F(LoginSettingsTest, ValueNames) {
    EXPECT_EQ(LoginSettings::kUserName, QStringLiteral("UserName"));
    EXPECT_EQ(LoginSettings::kPassword, QStringLiteral("Password1"));
    EXPECT_EQ(LoginSettings::kServer, QStringLiteral("SIPIP"));
    EXPECT_EQ(LoginSettings::kAccountNumber, QStringLiteral("AccNumber"));
    EXPECT_EQ(LoginSettings::kAccountPassword, QStringLiteral("AccPasword"));
    EXPECT_EQ(LoginSettings::kSave, QStringLiteral("Save"));
    EXPECT_TRUE(LoginSettings::fileName().endsWith(QStringLiteral("/Kestu/SoftPhone.conf")))
        << LoginSettings::fileName().toStdString();
}

TEST_F(LoginSettingsTest, NothingStoredReadsAsMissing) {
    EXPECT_FALSE(settings.read(LoginSettings::kUserName).has_value());
    EXPECT_FALSE(settings.read(LoginSettings::kPassword).has_value());
    EXPECT_FALSE(settings.saveChecked());
}

TEST_F(LoginSettingsTest, WrittenValuesReadBackExactly) {
    const QString tricky = QStringLiteral("  p=a;s#s, [x] \\ \"q\" \u00fc\u20ac ");
    ASSERT_TRUE(settings.write(LoginSettings::kPassword, tricky));
    ASSERT_TRUE(settings.write(LoginSettings::kUserName, QStringLiteral("alice")));
    ASSERT_TRUE(settings.write(LoginSettings::kServer, QString()));
    EXPECT_EQ(settings.read(LoginSettings::kPassword), tricky);
    EXPECT_EQ(settings.read(LoginSettings::kUserName), QStringLiteral("alice"));
    // Saving with the box off stores empty strings: present, and empty.
    EXPECT_EQ(settings.read(LoginSettings::kServer), QString());
    // Overwriting erases the old value.
    ASSERT_TRUE(settings.write(LoginSettings::kPassword, QString()));
    EXPECT_EQ(settings.read(LoginSettings::kPassword), QString());
}

TEST_F(LoginSettingsTest, ValuesLongerThan126CharactersAreIgnored) {
    const QString ok(126, u'u');
    ASSERT_TRUE(settings.write(LoginSettings::kUserName, ok));
    EXPECT_EQ(settings.read(LoginSettings::kUserName), ok);
    ASSERT_TRUE(settings.write(LoginSettings::kUserName, ok + u'u'));
    EXPECT_FALSE(settings.read(LoginSettings::kUserName).has_value());
    // Characters, not bytes: 126 two-byte characters still fit.
    const QString wide(126, u'\u00fc');
    ASSERT_TRUE(settings.write(LoginSettings::kUserName, wide));
    EXPECT_EQ(settings.read(LoginSettings::kUserName), wide);
}

TEST_F(LoginSettingsTest, ValuesThatAreNotStringsAreIgnored) {
    {
        QSettings direct(QStringLiteral("Kestu"), QStringLiteral("SoftPhone"));
        direct.setValue(LoginSettings::kUserName, 5);
        direct.setValue(LoginSettings::kPassword, QStringList{QStringLiteral("a"), QStringLiteral("b")});
        direct.setValue(LoginSettings::kServer, QByteArray("host"));
        direct.sync();
    }
    EXPECT_FALSE(settings.read(LoginSettings::kUserName).has_value());
    EXPECT_FALSE(settings.read(LoginSettings::kPassword).has_value());
    EXPECT_FALSE(settings.read(LoginSettings::kServer).has_value());
}

TEST_F(LoginSettingsTest, TypedValuesInTheFileAreIgnored) {
    // As another program (or a hand edit) may leave them.
    WriteRaw("UserName=a, b\nPassword1=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\nSIPIP=@ByteArray(h)\n"
             "AccNumber=plain text");
    EXPECT_FALSE(settings.read(LoginSettings::kUserName).has_value());
    EXPECT_FALSE(settings.read(LoginSettings::kPassword).has_value());
    EXPECT_FALSE(settings.read(LoginSettings::kServer).has_value());
    EXPECT_EQ(settings.read(LoginSettings::kAccountNumber), QStringLiteral("plain text"));
}

TEST_F(LoginSettingsTest, SaveIsCheckedOnlyForExactlyY) {
    ASSERT_TRUE(settings.write(LoginSettings::kSave, QStringLiteral("Y")));
    EXPECT_TRUE(settings.saveChecked());
    for (const QString& v :
         {QStringLiteral("y"), QStringLiteral("Yes"), QStringLiteral(" Y"), QStringLiteral("N"), QString()}) {
        ASSERT_TRUE(settings.write(LoginSettings::kSave, v));
        EXPECT_FALSE(settings.saveChecked()) << v.toStdString();
    }
}

TEST_F(LoginSettingsTest, FileAndFolderArePrivateAfterEveryWrite) {
    // A folder and file left readable by an older version, and a permissive umask.
    QDir().mkpath(Dir());
    WriteRaw("UserName=old");
    ASSERT_TRUE(QFile::setPermissions(LoginSettings::fileName(), QFile::ReadOwner | QFile::WriteOwner |
                                                                     QFile::ReadOther | QFile::ReadGroup));
    ASSERT_TRUE(QFile::setPermissions(Dir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                 QFile::ReadOther | QFile::ExeOther));
    const mode_t oldMask = ::umask(0);

    ASSERT_TRUE(settings.write(LoginSettings::kUserName, QStringLiteral("alice")));
    EXPECT_EQ(Mode(LoginSettings::fileName()), 0600u);
    EXPECT_EQ(Mode(Dir()), 0700u);
    ASSERT_TRUE(settings.write(LoginSettings::kPassword, QStringLiteral("secret")));
    EXPECT_EQ(Mode(LoginSettings::fileName()), 0600u);
    EXPECT_EQ(Mode(Dir()), 0700u);
    // The process's own umask is given back.
    EXPECT_EQ(::umask(oldMask), 0u);
    EXPECT_EQ(settings.read(LoginSettings::kPassword), QStringLiteral("secret"));
}

TEST_F(LoginSettingsTest, NewFileIsPrivate) {
    QDir(Dir()).removeRecursively();
    ASSERT_TRUE(settings.write(LoginSettings::kSave, QStringLiteral("N")));
    EXPECT_EQ(Mode(LoginSettings::fileName()), 0600u);
    EXPECT_EQ(Mode(Dir()), 0700u);
}

TEST_F(LoginSettingsTest, WriteReportsAFileThatCannotBeWritten) {
    // A folder where the file should be.
    ASSERT_TRUE(QDir().mkpath(LoginSettings::fileName()));
    EXPECT_FALSE(settings.write(LoginSettings::kUserName, QStringLiteral("alice")));
    EXPECT_FALSE(settings.read(LoginSettings::kUserName).has_value());
}

TEST_F(LoginSettingsTest, FailedWriteKeepsTheSavedValues) {
    ASSERT_TRUE(settings.write(LoginSettings::kUserName, QStringLiteral("alice")));
    ASSERT_TRUE(settings.write(LoginSettings::kPassword, QStringLiteral("secret")));
    // A full disk: no file may grow beyond 64 bytes while the next value is written.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = settings.write(LoginSettings::kAccountNumber, QString(200, u'7'));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(settings.read(LoginSettings::kUserName), QStringLiteral("alice"));
    EXPECT_EQ(settings.read(LoginSettings::kPassword), QStringLiteral("secret"));
    EXPECT_EQ(Mode(LoginSettings::fileName()), 0600u);
}

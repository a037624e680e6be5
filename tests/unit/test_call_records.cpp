// Call-history files: the exact bytes of a record, reading lines back, taking the number out of
// a row, and rewrites that never lose the old file.
#include "history/CallRecords.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace {

QDateTime At(int y, int mo, int d, int h, int mi, int s) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(f.write(data), data.size());
}

} // namespace

class CallRecordFiles : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    QString dir() const { return tmp.path() + QStringLiteral("/history"); }
};

TEST(CallRecordFormat, ExampleRecordAndPaddedTime) {
    EXPECT_EQ(FormatCallRecord(QStringLiteral("4021"), At(2026, 12, 8, 9, 5, 7)),
              QStringLiteral(" 4021  09:05:07  8/12/2026 "));
    EXPECT_EQ(FormatCallRecord(QStringLiteral("4021"), At(2027, 1, 1, 9, 5, 7)),
              QStringLiteral(" 4021  09:05:07  1/1/2027 "));
    EXPECT_EQ(FormatCallRecord(QStringLiteral("77"), At(2027, 1, 25, 0, 0, 0)),
              QStringLiteral(" 77  00:00:00  25/1/2027 "));
    EXPECT_EQ(FormatCallRecord(QStringLiteral("77"), At(2026, 12, 31, 23, 59, 59)),
              QStringLiteral(" 77  23:59:59  31/12/2026 "));
    EXPECT_EQ(FormatCallRecord(QStringLiteral("77"), At(2026, 10, 10, 10, 10, 10)),
              QStringLiteral(" 77  10:10:10  10/10/2026 "));
}

TEST(CallRecordFormat, NumberIsWrittenUnchanged) {
    // A dialled number goes in as typed, blanks included.
    EXPECT_EQ(FormatCallRecord(QStringLiteral(" 12 "), At(2027, 1, 1, 9, 5, 7)),
              QStringLiteral("  12   09:05:07  1/1/2027 "));
}

TEST(CallRecordFormat, FileNames) {
    EXPECT_EQ(CallRecordFileName(CallKind::Received), QStringLiteral("Recieved.bin"));
    EXPECT_EQ(CallRecordFileName(CallKind::Dialled), QStringLiteral("Dialled.bin"));
    EXPECT_EQ(CallRecordFileName(CallKind::Missed), QStringLiteral("missed.bin"));
}

TEST(NumberFromCallRecord, BothRecordFormsGiveTheNumber) {
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral(" 4021  09:05:07  8/12/2026 ")), QStringLiteral("4021"));
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral("4021  09:05:07  8/12/2026")), QStringLiteral("4021"));
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral("\t+44 20 7946  23:59:59  31/12/2026 ")),
              QStringLiteral("+44 20 7946"));
}

TEST(NumberFromCallRecord, NoColonOrColonTooEarlyGivesNothing) {
    EXPECT_EQ(NumberFromCallRecord(QString()), QString());
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral("4021 no time here")), QString());
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral(":4021  09:05:07")), QString());
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral("4:021  09:05:07")), QString());
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral("40:21  09:05:07")), QString());
    // Index 3 keeps one character.
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral("402:1")), QStringLiteral("4"));
}

TEST(NumberFromCallRecord, RecordWithEmptyNumberGivesNothing) {
    EXPECT_EQ(NumberFromCallRecord(FormatCallRecord(QString(), At(2027, 1, 1, 9, 5, 7))), QString());
}

TEST(NumberFromCallRecord, NumberHoldingAColonIsCutThere) {
    EXPECT_EQ(NumberFromCallRecord(QStringLiteral(" 555:12  09:05:07  1/1/2027 ")), QStringLiteral("5"));
}

TEST_F(CallRecordFiles, AppendWritesExactBytesWithCrLf) {
    CallHistory h(dir());
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Dialled, QStringLiteral("4021"), At(2026, 12, 8, 9, 5, 7)));
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Dialled, QStringLiteral("99"), At(2027, 1, 1, 0, 0, 0)));
    EXPECT_EQ(ReadBytes(dir() + QStringLiteral("/Dialled.bin")),
              QByteArray(" 4021  09:05:07  8/12/2026 \r\n 99  00:00:00  1/1/2027 \r\n"));
    // Each kind has its own file.
    EXPECT_FALSE(QFile::exists(h.path(CallKind::Received)));
    EXPECT_FALSE(QFile::exists(h.path(CallKind::Missed)));
}

TEST_F(CallRecordFiles, OneBytePerCharacterAndQuestionMarkAboveLatin1) {
    CallHistory h(dir());
    // e-acute is Latin-1; the euro sign is not; the emoji is one character in two UTF-16 units.
    const QString number = QStringLiteral("\u00e9\u20ac") + QString::fromUtf8("\xF0\x9F\x98\x80") + u'1';
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Missed, number, At(2027, 1, 1, 9, 5, 7)));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Missed)), QByteArray(" \xE9??1  09:05:07  1/1/2027 \r\n"));
    // Latin-1 reads back as the same character.
    EXPECT_EQ(h.LoadCallRecords(CallKind::Missed),
              QStringList{QStringLiteral(" \u00e9??1  09:05:07  1/1/2027 ")});
}

TEST_F(CallRecordFiles, EmptyNumberRecordStartsWithThreeSpaces) {
    CallHistory h(dir());
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Received, QString(), At(2027, 1, 1, 9, 5, 7)));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Received)), QByteArray("   09:05:07  1/1/2027 \r\n"));
}

TEST_F(CallRecordFiles, AppendWithoutWritingStillCreatesTheFile) {
    CallHistory h(dir());
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Received, QString(), At(2027, 1, 1, 9, 5, 7), false));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Received)), QByteArray());
    // ...and leaves an existing file as it was.
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Received, QStringLiteral("1"), At(2027, 1, 1, 9, 5, 7)));
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Received, QStringLiteral("2"), At(2027, 1, 1, 9, 5, 7), false));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Received)), QByteArray(" 1  09:05:07  1/1/2027 \r\n"));
}

TEST_F(CallRecordFiles, FolderIsCreatedWhenMissing) {
    const QString nested = tmp.path() + QStringLiteral("/a/b/SoftPhone");
    CallHistory h(nested);
    EXPECT_TRUE(QFileInfo(nested).isDir());
    // Also when it disappears after start-up.
    ASSERT_TRUE(QDir(tmp.path() + QStringLiteral("/a")).removeRecursively());
    ASSERT_TRUE(h.AppendCallRecord(CallKind::Dialled, QStringLiteral("4021"), At(2027, 1, 1, 9, 5, 7)));
    EXPECT_EQ(h.LoadCallRecords(CallKind::Dialled),
              QStringList{QStringLiteral(" 4021  09:05:07  1/1/2027 ")});
    ASSERT_TRUE(QDir(tmp.path() + QStringLiteral("/a")).removeRecursively());
    ASSERT_TRUE(h.SaveCallRecords(CallKind::Missed, {QStringLiteral("x")}));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Missed)), QByteArray("x\r\n"));
}

TEST_F(CallRecordFiles, UnusableFolderFailsQuietly) {
    // A plain file where the folder should be.
    const QString blocked = tmp.path() + QStringLiteral("/blocked");
    WriteBytes(blocked, "not a folder");
    CallHistory h(blocked);
    EXPECT_FALSE(h.AppendCallRecord(CallKind::Dialled, QStringLiteral("4021"), At(2027, 1, 1, 9, 5, 7)));
    EXPECT_FALSE(h.SaveCallRecords(CallKind::Dialled, {QStringLiteral("4021")}));
    EXPECT_TRUE(h.LoadCallRecords(CallKind::Dialled).isEmpty());
    EXPECT_EQ(ReadBytes(blocked), QByteArray("not a folder"));
}

TEST_F(CallRecordFiles, RecordLineAndEmptyLineLoadAsTwoRowsAndSaveBackTrimmed) {
    CallHistory h(dir());
    WriteBytes(h.path(CallKind::Dialled), " 4021  09:05:07  8/12/2026 \r\n\r\n");
    const QStringList rows = h.LoadCallRecords(CallKind::Dialled);
    EXPECT_EQ(rows, (QStringList{QStringLiteral(" 4021  09:05:07  8/12/2026 "), QString()}));
    ASSERT_TRUE(h.SaveCallRecords(CallKind::Dialled, rows));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Dialled)), QByteArray("4021  09:05:07  8/12/2026\r\n"));
    EXPECT_EQ(NumberFromCallRecord(h.LoadCallRecords(CallKind::Dialled).value(0)), QStringLiteral("4021"));
}

TEST_F(CallRecordFiles, SaveKeepsOrderDropsBlankRowsAndEncodesLikeAppend) {
    CallHistory h(dir());
    ASSERT_TRUE(h.SaveCallRecords(CallKind::Received,
                                  {QStringLiteral("\t b \r\n"), QStringLiteral(" \t\r\n "),
                                   QStringLiteral("a"), QString(), QStringLiteral("\u00fc\u0416 ")}));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Received)), QByteArray("b\r\na\r\n\xFC?\r\n"));
}

TEST_F(CallRecordFiles, MissingFileLoadsEmptyAndEmptyListSavesEmptyFile) {
    CallHistory h(dir());
    EXPECT_TRUE(h.LoadCallRecords(CallKind::Missed).isEmpty());
    ASSERT_TRUE(h.SaveCallRecords(CallKind::Missed, {}));
    EXPECT_EQ(ReadBytes(h.path(CallKind::Missed)), QByteArray());
}

TEST_F(CallRecordFiles, FailedRewriteLeavesTheOldFileWhole) {
    CallHistory h(dir());
    const QByteArray old = " 4021  09:05:07  8/12/2026 \r\n 99  00:00:00  1/1/2027 \r\n";
    WriteBytes(h.path(CallKind::Dialled), old);

    // A full disk in the middle of the rewrite: the process may not write more than 1 KiB into
    // any file, and the new contents are four times that.
    QStringList rows;
    for (int i = 0; i < 64; ++i)
        rows << QStringLiteral("%1  09:05:07  1/1/2027").arg(i, 38, 10, QLatin1Char('0'));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool savedOk = h.SaveCallRecords(CallKind::Dialled, rows);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(savedOk);
    EXPECT_EQ(ReadBytes(h.path(CallKind::Dialled)), old);
    // No half-written leftovers beside it.
    EXPECT_EQ(QDir(dir()).entryList(QDir::Files), QStringList{QStringLiteral("Dialled.bin")});
}

TEST_F(CallRecordFiles, RewriteOverADirectoryFails) {
    CallHistory h(dir());
    ASSERT_TRUE(QDir().mkpath(h.path(CallKind::Missed)));
    EXPECT_FALSE(h.SaveCallRecords(CallKind::Missed, {QStringLiteral("4021")}));
    EXPECT_TRUE(QFileInfo(h.path(CallKind::Missed)).isDir());
}

TEST_F(CallRecordFiles, ReadTextLinesLineEnds) {
    const QString p = tmp.path() + QStringLiteral("/lines.txt");
    const auto lines = [&](const QByteArray& data) {
        WriteBytes(p, data);
        return ReadTextLines(p);
    };
    EXPECT_EQ(lines("a\r\nb\nc\r\n"), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(lines("a\r\nlast"), (QStringList{"a", "last"}));
    EXPECT_EQ(lines(""), QStringList{});
    EXPECT_EQ(lines("\r\n"), QStringList{QString()});
    EXPECT_EQ(lines("\n\n"), (QStringList{QString(), QString()}));
    // A lone CR is part of the text, not a line end.
    EXPECT_EQ(lines("a\rb\r\n"), QStringList{QStringLiteral("a\rb")});
    EXPECT_EQ(lines("caf\xE9\r\n"), QStringList{QStringLiteral("caf\u00e9")});
    EXPECT_TRUE(ReadTextLines(tmp.path() + QStringLiteral("/none.txt")).isEmpty());
}

TEST_F(CallRecordFiles, LongLineIsReadWhole) {
    const QString p = tmp.path() + QStringLiteral("/long.txt");
    const QByteArray longLine(300, 'x');
    WriteBytes(p, longLine + "\r\nshort\r\n");
    const QStringList rows = ReadTextLines(p);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0], QString::fromLatin1(longLine));
    EXPECT_EQ(rows[1], QStringLiteral("short"));
}

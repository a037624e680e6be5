// The log file a user sends: every orvane.* category from info up, from any thread, with the
// time, level and category; nothing of other categories; nothing at all once stopped.
#include "platform/LogFile.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>

namespace {
Q_LOGGING_CATEGORY(lcTestNetwork, "orvane.network", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTestKeyring, "orvane.keyring", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTestOther, "thirdparty.thing", QtWarningMsg)

QStringList gElsewhere; // what reached the handler that was there before the log file

void Elsewhere(QtMsgType, const QMessageLogContext&, const QString& message) {
    gElsewhere << message;
}

QString Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}
} // namespace

TEST(LogFile, TakesEveryOrvaneCategoryFromInfoUpAndNothingElse) {
    QTemporaryDir dir;
    const QString path = dir.filePath("phone.log");
    qCInfo(lcTestNetwork, "before the log");
    const QtMessageHandler outer = qInstallMessageHandler(Elsewhere);
    QString why;
    ASSERT_TRUE(StartLogFile(path, &why)) << why.toStdString();
    qCInfo(lcTestNetwork, "address changed");
    std::thread([] { qCWarning(lcTestKeyring, "no keyring answers"); }).join();
    qCDebug(lcTestNetwork, "chatter");
    qCWarning(lcTestOther, "not ours");
    StopLogFile();
    qCInfo(lcTestNetwork, "after the log");
    qInstallMessageHandler(outer);
    // The program's own messages go to the file alone; the others where they went before.
    EXPECT_EQ(gElsewhere, QStringList{"not ours"});

    const QStringList lines = Read(path).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << Read(path).toStdString();
    EXPECT_TRUE(lines[0].contains(QRegularExpression(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} info orvane\.network: address changed$)")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith("warning orvane.keyring: no keyring answers")) << lines[1].toStdString();
    // Quiet again: the category's own default holds.
    EXPECT_FALSE(lcTestNetwork().isInfoEnabled());

    EXPECT_FALSE(StartLogFile(dir.filePath("no/such/folder/phone.log"), &why));
    EXPECT_FALSE(why.isEmpty());
}

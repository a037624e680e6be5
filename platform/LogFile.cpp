#include "platform/LogFile.h"

#include <QDateTime>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>

#include <memory>

namespace {

QMutex gMutex;
std::unique_ptr<QFile> gFile;
QtMessageHandler gPrevious = nullptr;

const char* LevelName(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "?";
}

// Messages may come from any thread (the engine's media threads log too).
void Handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const bool ours = context.category && qstrncmp(context.category, "orvane.", 7) == 0;
    if (ours) {
        const QByteArray line =
            QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")).toUtf8() +
            LevelName(type) + ' ' + context.category + ": " + message.toUtf8() + '\n';
        const QMutexLocker lock(&gMutex);
        if (gFile) {
            gFile->write(line);
            gFile->flush(); // the file is read after things went wrong, perhaps after a crash
        }
    }
    // The program's own messages go to the file only; anything serious also where it went.
    if ((!ours || type == QtCriticalMsg || type == QtFatalMsg) && gPrevious)
        gPrevious(type, context, message);
}

} // namespace

bool StartLogFile(const QString& path, QString* error) {
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error)
            *error = file->errorString();
        return false;
    }
    {
        const QMutexLocker lock(&gMutex);
        gFile = std::move(file);
    }
    QLoggingCategory::setFilterRules(QStringLiteral("orvane.*.info=true"));
    QtMessageHandler previous = qInstallMessageHandler(Handler);
    if (previous != Handler)
        gPrevious = previous;
    return true;
}

void StopLogFile() {
    qInstallMessageHandler(gPrevious);
    QLoggingCategory::setFilterRules(QString());
    const QMutexLocker lock(&gMutex);
    gFile.reset();
}

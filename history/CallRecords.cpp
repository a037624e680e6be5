#include "history/CallRecords.h"

#include "platform/Paths.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QByteArray kLineEnd = QByteArrayLiteral("\r\n");

// One byte per character: codes up to 255 as themselves, anything else (a surrogate pair counts
// as one character) as '?'.
QByteArray ToSingleBytes(const QString& s) {
    QByteArray out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c.unicode() <= 0xFF) {
            out.append(static_cast<char>(c.unicode()));
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate())
            ++i;
        out.append('?');
    }
    return out;
}

QString TwoDigits(int v) {
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

} // namespace

QString CallRecordFileName(CallKind kind) {
    switch (kind) {
    case CallKind::Received:
        return QStringLiteral("Recieved.bin");
    case CallKind::Dialled:
        return QStringLiteral("Dialled.bin");
    case CallKind::Missed:
        return QStringLiteral("missed.bin");
    }
    return {};
}

QString FormatCallRecord(const QString& number, const QDateTime& localTime) {
    // Date and time come from the same value, so a record written at midnight cannot mix days.
    const QDateTime t = localTime.toLocalTime();
    const QTime time = t.time();
    const QDate date = t.date();
    const QString timeText =
        TwoDigits(time.hour()) + u':' + TwoDigits(time.minute()) + u':' + TwoDigits(time.second());
    const QString dateText = QString::number(date.day()) + u'/' + QString::number(date.month()) + u'/' +
                             QString::number(date.year());
    return u' ' + number + QStringLiteral("  ") + timeText + QStringLiteral("  ") + dateText + u' ';
}

QString TrimBlanks(const QString& s) {
    const auto blank = [](QChar c) {
        const char16_t u = c.unicode();
        return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\v' || u == '\f';
    };
    qsizetype end = s.size();
    while (end > 0 && blank(s.at(end - 1)))
        --end;
    qsizetype begin = 0;
    while (begin < end && blank(s.at(begin)))
        ++begin;
    return s.mid(begin, end - begin);
}

QString NumberFromCallRecord(const QString& row) {
    const qsizetype colon = row.indexOf(u':');
    if (colon < 0)
        return {};
    // The first ':' follows the two hour digits; what comes before them is the number.
    const qsizetype keep = colon - 2;
    if (keep <= 0)
        return {};
    return TrimBlanks(row.left(keep));
}

QStringList ReadTextLines(const QString& path) {
    return TryReadTextLines(path).value_or(QStringList());
}

std::optional<QStringList> TryReadTextLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.exists() ? std::nullopt : std::optional<QStringList>(QStringList());
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    file.close();

    QStringList lines;
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf('\n', start);
        const qsizetype next = end < 0 ? data.size() : end + 1;
        if (end < 0)
            end = data.size(); // a last line without a line end is still a line
        qsizetype len = end - start;
        if (len > 0 && data.at(end - 1) == '\r' && end < data.size())
            --len; // CR LF
        lines.append(QString::fromLatin1(data.constData() + start, len));
        start = next;
    }
    return lines;
}

CallHistory::CallHistory(QString dir) : dir_(std::move(dir)) {
    paths::ensurePrivateDir(dir_);
}

QString CallHistory::path(CallKind kind) const {
    return dir_ + u'/' + CallRecordFileName(kind);
}

bool CallHistory::AppendCallRecord(CallKind kind, const QString& number, const QDateTime& localTime,
                                   bool write) const {
    // The folder may have been removed since start-up.
    if (!paths::ensurePrivateDir(dir_))
        return false;
    QFile file(path(kind));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (write) {
        const QByteArray line = ToSingleBytes(FormatCallRecord(number, localTime)) + kLineEnd;
        if (file.write(line) != line.size() || !file.flush())
            return false;
    }
    file.close();
    return file.error() == QFileDevice::NoError;
}

QStringList CallHistory::LoadCallRecords(CallKind kind) const {
    return ReadTextLines(path(kind));
}

std::optional<QStringList> CallHistory::TryLoadCallRecords(CallKind kind) const {
    return TryReadTextLines(path(kind));
}

bool CallHistory::SaveCallRecords(CallKind kind, const QStringList& rows) const {
    QStringList lines;
    for (const QString& row : rows) {
        const QString trimmed = TrimBlanks(row);
        if (!trimmed.isEmpty())
            lines << trimmed;
    }
    return WriteTextLines(path(kind), lines);
}

bool WriteTextLines(const QString& path, const QStringList& lines) {
    if (!paths::ensurePrivateDir(QFileInfo(path).absolutePath()))
        return false;
    // Written beside the file and renamed over it on commit: until then the old file stays whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray data;
    for (const QString& line : lines)
        data += ToSingleBytes(line) + kLineEnd;
    // A failed flush must be checked here: QSaveFile (Qt 6.4) would still rename the cut-off
    // file over the old one on commit.
    if (file.write(data) != data.size() || !file.flush()) {
        file.cancelWriting();
        file.commit(); // only removes the temporary file
        return false;
    }
    return file.commit();
}

// The call-history files: reading their lines, and the number and blanks of a line.
#include "FuzzSupport.h"

#include "history/CallRecords.h"

#include <QDateTime>

#include <fuzzer/FuzzedDataProvider.h>

namespace {

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

void CheckTrimmed(const QString& s) {
    FUZZ_CHECK(s.isEmpty() || (!IsBlank(s.front()) && !IsBlank(s.back())));
}

// The lines of `bytes` read the simple way: CR LF becomes LF, one LF at the very end only ends
// the last line, and what is left is split at each LF.
QStringList ExpectedLines(QByteArray bytes) {
    if (bytes.isEmpty())
        return {};
    bytes.replace("\r\n", "\n");
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    QStringList lines;
    for (const QByteArray& line : bytes.split('\n'))
        lines.append(QString::fromLatin1(line));
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const CallHistory history(fuzz::ScratchDir() + QStringLiteral("/history"));

    // Any file as a history file: every line comes back, whatever its ends, and each gives a
    // number and a trimmed text without blanks at their ends.
    const QString file = history.path(CallKind::Missed);
    fuzz::WriteFile(file, data, size);
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = ReadTextLines(file);
    FUZZ_CHECK(lines == ExpectedLines(bytes));
    for (const QString& line : lines) {
        const QString trimmed = TrimBlanks(line);
        CheckTrimmed(trimmed);
        FUZZ_CHECK(TrimBlanks(trimmed) == trimmed);
        FUZZ_CHECK(line.contains(trimmed));
        const QString number = NumberFromCallRecord(line);
        CheckTrimmed(number);
        FUZZ_CHECK(number.isEmpty() || line.left(line.indexOf(u':')).contains(number));
    }

    // The history window's save after a delete: what it saves reads back as the rows that were
    // not blank, trimmed.
    QStringList kept;
    for (const QString& line : lines) {
        if (!TrimBlanks(line).isEmpty())
            kept.append(TrimBlanks(line));
    }
    FUZZ_CHECK(history.SaveCallRecords(CallKind::Received, lines));
    FUZZ_CHECK(history.LoadCallRecords(CallKind::Received) == kept);

    FuzzedDataProvider in(data, size);
    // Any moment from 1970 to the end of year 9999.
    const QDateTime when = QDateTime::fromSecsSinceEpoch(in.ConsumeIntegralInRange<qint64>(0, 253402300799));

    // A record's number reads back trimmed, for any number without a ':' (there the time
    // starts). A number of blanks only reads back empty, as it should.
    QString number = QString::fromStdString(in.ConsumeRandomLengthString());
    number.remove(u':');
    const QString record = FormatCallRecord(number, when);
    FUZZ_CHECK_MSG(NumberFromCallRecord(record) == TrimBlanks(number), fuzz::Dump(record));

    // The same through the file, for a number the file can hold (one byte per character, no LF;
    // a lone CR does not end a line): the line read is the line written.
    QString stored = QString::fromLatin1(in.ConsumeRemainingBytesAsString());
    stored.remove(u':').remove(u'\n');
    QFile::remove(history.path(CallKind::Dialled));
    FUZZ_CHECK(history.AppendCallRecord(CallKind::Dialled, stored, when));
    const QStringList read = history.LoadCallRecords(CallKind::Dialled);
    FUZZ_CHECK(read.size() == 1);
    FUZZ_CHECK_MSG(read.front() == FormatCallRecord(stored, when), fuzz::Dump(read.front()));
    FUZZ_CHECK(NumberFromCallRecord(read.front()) == TrimBlanks(stored));
    return 0;
}

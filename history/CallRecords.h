// The call-history files: one text file per kind of call, one record per line, CR LF line ends
// and one byte per character (Latin-1; other characters become '?').
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

enum class CallKind { Received, Dialled, Missed };

// "Recieved.bin", "Dialled.bin", "missed.bin" (the names are kept as they always were).
QString CallRecordFileName(CallKind kind);

// " <number>  hh:mm:ss  d/m/yyyy " (without the line end), from one reading of the clock.
QString FormatCallRecord(const QString& number, const QDateTime& localTime);

// Removes the C library's white space (blank, tab, line breaks) from both ends; unlike
// QString::trimmed a no-break space stays part of the text.
QString TrimBlanks(const QString& text);

// The number of a row: the text before the two hour digits that precede the first ':',
// trimmed; empty when there is no ':' or it comes too early.
QString NumberFromCallRecord(const QString& row);

// The lines of a text file (one byte per character, Latin-1) without their line ends. CR LF and
// a bare LF both end a line; a last line without a line end still counts; lines of any length
// are read whole. A missing or unreadable file gives no lines.
QStringList ReadTextLines(const QString& path);
// The same, but nothing at all when the file exists and could not be read: what it holds is
// unknown, so it must not be replaced. A missing file gives no lines.
std::optional<QStringList> TryReadTextLines(const QString& path);

// Replaces the file atomically with the lines (one byte per character, CR LF after each), so
// that a crash or a full disk during the rewrite leaves the old file whole. Creates the folder,
// private to the user, when it is missing. False when the file could not be written.
bool WriteTextLines(const QString& path, const QStringList& lines);

// The three files in one folder, created (private to the user) when missing, also again before
// each write in case it went away.
class CallHistory {
public:
    explicit CallHistory(QString dir);
    const QString& dir() const { return dir_; }
    QString path(CallKind kind) const;

    // Opens the file for appending (creating it), writes the record when `write` is true, closes
    // it. Returns false when the file could not be written; the caller's call goes on regardless.
    bool AppendCallRecord(CallKind kind, const QString& number, const QDateTime& localTime,
                          bool write = true) const;
    QStringList LoadCallRecords(CallKind kind) const;
    // Nothing when the file exists but could not be read.
    std::optional<QStringList> TryLoadCallRecords(CallKind kind) const;
    // Replaces the file atomically with the rows that are not blank, each trimmed, so that a
    // crash or a full disk during the rewrite never loses the history.
    bool SaveCallRecords(CallKind kind, const QStringList& rows) const;

private:
    QString dir_;
};

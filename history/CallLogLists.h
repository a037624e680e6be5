// What the call history window does with the rows of the three history files, without the
// window: which page opens, which rows the user removes, what is written back and which number
// a picked row gives.
#pragma once

#include "history/CallRecords.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

enum class CallLogPage { Received, Dialled, Missed };

// The page words "recevied", "dialled" and "missed" (kept as they always were).
QString PageWord(CallLogPage page);
CallKind KindOf(CallLogPage page);

// The page the window opens on, from the main window's call marks: received after a call was
// answered or rejected, else missed after one rang unanswered, else dialled. The mark that chose
// the page is cleared; the others stay for the next opening.
CallLogPage OpeningPage(int& receivedCall, int& missedCall, int rejected);

class CallLogLists {
public:
    explicit CallLogLists(const CallHistory& history) : history_(history) {}

    // Reads the missed, received and dialled files.
    void load();
    // The rows as the page shows them: dialled and received in file order, missed sorted
    // alphabetically without regard to case.
    QStringList rows(CallKind kind) const;
    // Removes the shown rows at these positions (selected by the user); nothing is written yet.
    void removeRows(CallKind kind, const QList<int>& shownRows);
    // Rewrites the kind's file: the rows it held when loaded, less those removed here, followed by
    // every record appended to it since (calls keep coming while the window is open), in file
    // order. False when the file could not be written. A file that exists but cannot be read
    // is never replaced.
    bool save(CallKind kind) const;
    // The number of the shown row (empty for a row without one, or no such row).
    QString number(CallKind kind, int shownRow) const;

private:
    struct Row {
        QString text;
        int fileIndex;
    };
    struct List {
        QStringList loaded;
        QList<Row> shown;
    };
    const List& list(CallKind kind) const { return lists_[static_cast<int>(kind)]; }
    List& list(CallKind kind) { return lists_[static_cast<int>(kind)]; }

    const CallHistory& history_;
    std::array<List, 3> lists_;
};

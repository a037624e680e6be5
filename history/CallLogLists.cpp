#include "history/CallLogLists.h"

#include <QHash>

#include <algorithm>

QString PageWord(CallLogPage page) {
    switch (page) {
    case CallLogPage::Received:
        return QStringLiteral("recevied");
    case CallLogPage::Dialled:
        return QStringLiteral("dialled");
    case CallLogPage::Missed:
        return QStringLiteral("missed");
    }
    return {};
}

CallKind KindOf(CallLogPage page) {
    switch (page) {
    case CallLogPage::Received:
        return CallKind::Received;
    case CallLogPage::Missed:
        return CallKind::Missed;
    case CallLogPage::Dialled:
        break;
    }
    return CallKind::Dialled;
}

CallLogPage OpeningPage(int& receivedCall, int& missedCall, int rejected) {
    if (receivedCall) {
        receivedCall = 0;
        return CallLogPage::Received;
    }
    if (missedCall && !rejected) {
        missedCall = 0;
        return CallLogPage::Missed;
    }
    return CallLogPage::Dialled;
}

void CallLogLists::load() {
    for (CallKind kind : {CallKind::Missed, CallKind::Received, CallKind::Dialled}) {
        List& l = list(kind);
        l.loaded = history_.LoadCallRecords(kind);
        l.shown.clear();
        for (int i = 0; i < l.loaded.size(); ++i)
            l.shown.append({l.loaded.at(i), i});
        if (kind == CallKind::Missed) {
            std::stable_sort(l.shown.begin(), l.shown.end(), [](const Row& a, const Row& b) {
                return QString::compare(a.text, b.text, Qt::CaseInsensitive) < 0;
            });
        }
    }
}

QStringList CallLogLists::rows(CallKind kind) const {
    QStringList out;
    for (const Row& r : list(kind).shown)
        out << r.text;
    return out;
}

void CallLogLists::removeRows(CallKind kind, const QList<int>& shownRows) {
    QList<int> sorted = shownRows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QList<Row>& shown = list(kind).shown;
    for (auto it = sorted.crbegin(); it != sorted.crend(); ++it)
        if (*it >= 0 && *it < shown.size())
            shown.removeAt(*it);
}

bool CallLogLists::save(CallKind kind) const {
    const List& l = list(kind);
    // A file that cannot be read is left as it is: its rows are unknown, and none of them was
    // shown to be removed.
    const std::optional<QStringList> current = history_.TryLoadCallRecords(kind);
    if (!current)
        return true;
    // Records appended since loading follow the loaded ones in the file. Should the file have
    // been rewritten meanwhile, whatever it holds beyond the loaded rows counts as new.
    const QStringList& now = *current;
    QStringList appended;
    if (now.mid(0, l.loaded.size()) == l.loaded) {
        appended = now.mid(l.loaded.size());
    } else {
        // Compared trimmed: a rewrite trims the rows and drops the blank ones.
        QHash<QString, int> known;
        for (const QString& row : l.loaded)
            ++known[TrimBlanks(row)];
        for (const QString& row : now) {
            const QString trimmed = TrimBlanks(row);
            if (trimmed.isEmpty())
                continue;
            if (known.value(trimmed) > 0)
                --known[trimmed];
            else
                appended << row;
        }
    }
    QList<Row> kept = l.shown;
    std::sort(kept.begin(), kept.end(), [](const Row& a, const Row& b) { return a.fileIndex < b.fileIndex; });
    QStringList rows;
    for (const Row& r : kept)
        rows << r.text;
    return history_.SaveCallRecords(kind, rows + appended);
}

QString CallLogLists::number(CallKind kind, int shownRow) const {
    const QList<Row>& shown = list(kind).shown;
    if (shownRow < 0 || shownRow >= shown.size())
        return QString();
    return NumberFromCallRecord(shown.at(shownRow).text);
}

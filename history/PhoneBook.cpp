#include "history/PhoneBook.h"

#include "history/CallRecords.h"

#include <algorithm>

QString PhoneBookFileName() {
    return QStringLiteral("PhoneBook.bin");
}

PhoneBookEntry SplitPhoneBookRow(const QString& row) {
    const qsizetype split = row.indexOf(QStringLiteral("--"));
    if (split < 0)
        return {row, QString()};
    return {row.left(split), row.mid(split + 2)};
}

void PhoneBook::open() {
    selected_ = -1;
    chosen_.clear();
    const std::optional<QStringList> lines = TryReadTextLines(path_);
    if (changed_) {
        // Entries an earlier save could not write. A file that could not be read then and can
        // now adds its entries to them; one that was read already holds nothing new.
        if (unreadable_ && lines) {
            for (const QString& line : *lines)
                if (line != kNewItemRow && !rows_.contains(line))
                    insertSorted(line);
            unreadable_ = false;
        }
        return;
    }
    unreadable_ = !lines;
    rows_ = QStringList{kNewItemRow};
    for (const QString& line : lines.value_or(QStringList()))
        if (line != kNewItemRow) // never stored, but a hand-edited file might hold it
            insertSorted(line);
}

bool FitsPhoneBookFile(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
}

void PhoneBook::insertSorted(const QString& row) {
    // The placeholder stays first whatever an entry begins with.
    const auto less = [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    };
    const auto at = std::upper_bound(rows_.begin() + 1, rows_.end(), row, less);
    rows_.insert(at, row);
}

PhoneBookEntry PhoneBook::select(int row) {
    if (row <= 0 || row >= rows_.size()) {
        selected_ = -1;
        return {};
    }
    selected_ = row;
    return SplitPhoneBookRow(rows_.at(row));
}

PhoneBook::Result PhoneBook::add(const QString& name, const QString& number) {
    if (selected_ != -1)
        return Result::Ignored;
    const QString n = TrimBlanks(name);
    const QString p = TrimBlanks(number);
    if (n.isEmpty() || p.isEmpty())
        return Result::Blank;
    if (!FitsPhoneBookFile(n) || !FitsPhoneBookFile(p))
        return Result::Unsupported;
    insertSorted(n + QStringLiteral("--") + p);
    changed_ = true;
    return Result::Done;
}

PhoneBook::Result PhoneBook::edit(const QString& name, const QString& number) {
    if (selected_ == -1)
        return Result::Ignored;
    const QString n = TrimBlanks(name);
    const QString p = TrimBlanks(number);
    if (n.isEmpty() || p.isEmpty())
        return Result::Blank;
    if (!FitsPhoneBookFile(n) || !FitsPhoneBookFile(p))
        return Result::Unsupported;
    rows_.removeAt(selected_);
    insertSorted(n + QStringLiteral("--") + p);
    selected_ = -1;
    changed_ = true;
    return Result::Done;
}

void PhoneBook::remove() {
    if (selected_ > 0 && selected_ < rows_.size()) {
        rows_.removeAt(selected_);
        changed_ = true;
    }
    selected_ = -1;
}

bool PhoneBook::call(const QString& numberFieldText) {
    if (selected_ != -1)
        chosen_ = numberFieldText;
    return !chosen_.isEmpty();
}

PhoneBook::SaveResult PhoneBook::save() {
    if (unreadable_)
        return SaveResult::Unreadable;
    QStringList lines;
    for (const QString& row : rows_)
        if (row != kNewItemRow)
            lines << TrimBlanks(row);
    if (!WriteTextLines(path_, lines))
        return SaveResult::NotWritten;
    changed_ = false;
    return SaveResult::Saved;
}

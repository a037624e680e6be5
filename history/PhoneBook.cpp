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
    const std::optional<QStringList> lines = TryReadTextLines(path_);
    unreadable_ = !lines;
    rows_ = QStringList{kNewItemRow};
    for (const QString& line : lines.value_or(QStringList()))
        if (line != kNewItemRow) // never stored, but a hand-edited file might hold it
            insertSorted(line);
    selected_ = -1;
    chosen_.clear();
    changed_ = false;
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

bool PhoneBook::save() {
    if (unreadable_)
        return false;
    QStringList lines;
    for (const QString& row : rows_)
        if (row != kNewItemRow)
            lines << TrimBlanks(row);
    if (!WriteTextLines(path_, lines))
        return false;
    changed_ = false;
    return true;
}

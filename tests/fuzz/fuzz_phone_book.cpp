// The phone book file: any file opens (the placeholder first, every line a row), and entries
// added through the window's rules are saved and read back as the same name and number.
#include "FuzzSupport.h"

#include "history/CallRecords.h"
#include "history/PhoneBook.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

bool HasLineBreak(const QString& s) {
    return s.contains(u'\n') || s.contains(u'\r');
}

// What one byte per character keeps of a text: codes up to 255.
bool SingleByte(const QString& s) {
    for (const QChar c : s)
        if (c.unicode() > 0xFF)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = fuzz::ScratchDir() + QStringLiteral("/PhoneBook.bin");

    // Any file: the placeholder stays first and only, every row splits into what it holds.
    fuzz::WriteFile(path, data, size);
    PhoneBook book(path);
    book.open();
    FUZZ_CHECK(!book.rows().isEmpty() && book.rows().first() == kNewItemRow);
    FUZZ_CHECK(book.rows().count(kNewItemRow) == 1);
    for (int i = 1; i < book.rows().size(); ++i) {
        const QString& row = book.rows().at(i);
        const PhoneBookEntry e = SplitPhoneBookRow(row);
        FUZZ_CHECK(row ==
                   (row.contains(QStringLiteral("--")) ? e.name + QStringLiteral("--") + e.number : e.name));
        FUZZ_CHECK(!e.name.contains(QStringLiteral("--")));
        FUZZ_CHECK(book.select(i).name == e.name && book.selected() == i);
    }

    // An entry typed into the fields: added when both parts are there, saved, read back whole.
    FuzzedDataProvider in(data, size);
    const QString name = QString::fromStdString(in.ConsumeRandomLengthString(64));
    const QString number = QString::fromStdString(in.ConsumeRandomLengthString(64));
    fuzz::WriteFile(path, nullptr, 0);
    book.open();
    const PhoneBook::Result added = book.add(name, number);
    const bool blank = TrimBlanks(name).isEmpty() || TrimBlanks(number).isEmpty();
    // Both parts there and the file able to hold them, or refused saying which.
    const bool fits = SingleByte(TrimBlanks(name) + TrimBlanks(number));
    const PhoneBook::Result expected =
        blank ? PhoneBook::Result::Blank : (fits ? PhoneBook::Result::Done : PhoneBook::Result::Unsupported);
    FUZZ_CHECK(added == expected);
    if (added != PhoneBook::Result::Done)
        return 0;
    FUZZ_CHECK(book.rows().size() == 2);
    FUZZ_CHECK(book.save() == PhoneBook::SaveResult::Saved);
    PhoneBook again(path);
    again.open();
    // Kept apart only when one line of one byte per character can hold them and the first "--"
    // of the row is the one between them (a name ending in "-" moves it).
    if (HasLineBreak(name) || HasLineBreak(number) || name.contains(QStringLiteral("--")) ||
        TrimBlanks(name).endsWith(u'-'))
        return 0;
    FUZZ_CHECK_MSG(again.rows() == book.rows(), fuzz::Dump(name) + u' ' + fuzz::Dump(number));
    const PhoneBookEntry e = again.select(1);
    FUZZ_CHECK_MSG(e.name == TrimBlanks(name) && e.number == TrimBlanks(number),
                   fuzz::Dump(name) + u' ' + fuzz::Dump(number));
    return 0;
}

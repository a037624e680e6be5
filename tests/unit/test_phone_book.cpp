// The phone book: entries kept sorted under the placeholder, the add, edit, delete and call
// rules, the file, and the window, whose every way out but Escape keeps the changes and which
// stays open with its entries when the file cannot be written.
#include "fakes/FakeServices.h"
#include "fakes/Modal.h"
#include "history/PhoneBookDlg.h"
#include "test_file_support.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

using namespace fake;
using Result = PhoneBook::Result;

namespace {

QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteBytes(const QString& path, const QByteArray& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

} // namespace

TEST(PhoneBook, EntriesAreTrimmedSortedUnderThePlaceholderAndSplitAtTheFirstDashes) {
    QTemporaryDir dir;
    PhoneBook book(dir.filePath("PhoneBook.bin"));
    book.open(); // no file yet
    EXPECT_EQ(book.rows(), QStringList{" NEW ITEM"});

    EXPECT_EQ(book.add("  Zoe ", " 1 "), Result::Done);
    EXPECT_EQ(book.add("anna", "4021"), Result::Done);
    EXPECT_EQ(book.add("Bruno--Office", "22"), Result::Done);
    EXPECT_EQ(book.add(" ", "5"), Result::Blank);
    EXPECT_EQ(book.add("Nobody", "\t"), Result::Blank);
    EXPECT_EQ(book.rows(), (QStringList{" NEW ITEM", "anna--4021", "Bruno--Office--22", "Zoe--1"}));

    // A name holding "--" comes back split at its first "--".
    const PhoneBookEntry bruno = book.select(2);
    EXPECT_EQ(bruno.name, "Bruno");
    EXPECT_EQ(bruno.number, "Office--22");
    EXPECT_EQ(book.select(0).name, ""); // the placeholder empties the fields
    EXPECT_EQ(book.selected(), -1);
    // A hand-edited row without "--" is all name.
    EXPECT_EQ(SplitPhoneBookRow("just a name").name, "just a name");
    EXPECT_EQ(SplitPhoneBookRow("just a name").number, "");
}

TEST(PhoneBook, AddEditDeleteAndCallFollowTheSelection) {
    QTemporaryDir dir;
    PhoneBook book(dir.filePath("PhoneBook.bin"));
    book.open();
    book.add("Anna", "4021");
    book.add("Carl", "555");

    book.select(1);
    EXPECT_EQ(book.add("Dora", "7"), Result::Ignored); // an entry is selected
    EXPECT_EQ(book.edit("Anna", ""), Result::Blank);
    EXPECT_EQ(book.edit(" Anne ", "4022"), Result::Done);
    EXPECT_EQ(book.selected(), -1);
    EXPECT_EQ(book.rows(), (QStringList{" NEW ITEM", "Anne--4022", "Carl--555"}));
    EXPECT_EQ(book.edit("X", "1"), Result::Ignored); // nothing selected

    // Call takes the number field as it stands, untrimmed; with nothing selected it chooses
    // nothing.
    EXPECT_FALSE(book.call("999"));
    book.select(2);
    EXPECT_TRUE(book.call(" 555 "));
    EXPECT_EQ(book.chosenNumber(), " 555 ");

    book.remove();
    EXPECT_EQ(book.rows(), (QStringList{" NEW ITEM", "Anne--4022"}));
    book.remove(); // nothing selected: nothing goes, the placeholder least of all
    book.select(0);
    book.remove();
    EXPECT_EQ(book.rows(), (QStringList{" NEW ITEM", "Anne--4022"}));
}

TEST(PhoneBook, SavedFileHoldsEveryEntryButThePlaceholderAndReadsBack) {
    QTemporaryDir dir;
    const QString path = dir.filePath("deep/folder/PhoneBook.bin"); // created when missing
    PhoneBook book(path);
    book.open();
    EXPECT_EQ(book.add("Zoë", "1"), Result::Done);
    // The file holds Latin-1: anything else would come back as "?", so it is refused.
    EXPECT_EQ(book.add("Euro", "€5"), Result::Unsupported);
    EXPECT_EQ(book.add("Ζωή", "5"), Result::Unsupported);
    ASSERT_EQ(book.save(), PhoneBook::SaveResult::Saved);
    EXPECT_EQ(ReadBytes(path), QByteArray("Zo\xEB--1\r\n"));

    // A hand-edited file: untrimmed rows, a row without "--", an empty line, even the placeholder.
    WriteBytes(path, "  Pat--3  \r\n NEW ITEM\r\nloose\r\n\r\n");
    book.open();
    EXPECT_EQ(book.rows(), (QStringList{" NEW ITEM", "", "  Pat--3  ", "loose"}));
    book.select(2);
    book.edit("Pat", "4");
    ASSERT_EQ(book.save(), PhoneBook::SaveResult::Saved);
    EXPECT_EQ(ReadBytes(path), QByteArray("\r\nloose\r\nPat--4\r\n"));
}

namespace {

struct BookWindow {
    QTemporaryDir tmp;
    QString dir = tmp.filePath("SoftPhone");
    MessageBoxes box;
    // The main window's book, kept between openings.
    PhoneBook book{dir + "/PhoneBook.bin"};
    std::unique_ptr<CPhoneBook> w;
    int result = -1;

    QString file() const { return dir + "/PhoneBook.bin"; }
    void run(const std::function<void()>& body) {
        w = std::make_unique<CPhoneBook>(book, box);
        whenModal<CPhoneBook>([&](CPhoneBook*) {
            body();
            if (w->isVisible())
                w->done(100);
        });
        result = w->exec();
    }
    QLineEdit* edit(int id) const { return w->controlAs<QLineEdit>(id); }
    QListWidget* list() const { return w->controlAs<QListWidget>(bookctl::List); }
    void type(const QString& name, const QString& number) {
        edit(bookctl::Name)->clear();
        edit(bookctl::Number)->clear();
        QTest::keyClicks(edit(bookctl::Name), name);
        QTest::keyClicks(edit(bookctl::Number), number);
    }
    void click(int id) { QTest::mouseClick(w->control(id), Qt::LeftButton); }
    void select(int row) {
        QTest::mouseClick(list()->viewport(), Qt::LeftButton, {},
                          list()->visualItemRect(list()->item(row)).center());
    }
};

} // namespace

TEST(PhoneBookWindow, AnEntryAddedThenCalledIsSavedAndItsNumberChosen) {
    BookWindow b;
    b.run([&] {
        EXPECT_EQ(b.list()->count(), 1);
        EXPECT_EQ(b.list()->currentRow(), -1);
        b.type(" Anna ", "4021");
        b.click(bookctl::Add);
        EXPECT_EQ(b.edit(bookctl::Name)->text(), "");
        b.type("", "1");
        b.click(bookctl::Add);
        EXPECT_EQ(b.box.texts(), QStringList{"Name and Phone Number Should  Not be blank"});
        EXPECT_EQ(b.edit(bookctl::Number)->text(), "1"); // the fields keep their text

        b.select(1);
        EXPECT_EQ(b.edit(bookctl::Name)->text(), "Anna");
        EXPECT_EQ(b.edit(bookctl::Number)->text(), "4021");
        b.click(bookctl::Call);
    });
    EXPECT_EQ(b.result, QDialog::Accepted);
    EXPECT_EQ(b.w->chosenNumber(), "4021");
    EXPECT_EQ(ReadBytes(b.file()), QByteArray("Anna--4021\r\n"));
}

TEST(PhoneBookWindow, EveryWayOutButEscapeKeepsTheChanges) {
    struct Exit {
        const char* how;
        int result;
        bool saved;
    };
    const Exit exits[] = {{"enter", QDialog::Accepted, true},
                          {"close image", QDialog::Rejected, true},
                          {"close request", QDialog::Rejected, true},
                          {"escape", QDialog::Rejected, false}};
    for (const Exit& e : exits) {
        SCOPED_TRACE(e.how);
        BookWindow b;
        b.run([&] {
            b.type("Anna", "4021");
            b.click(bookctl::Add);
            const QString how = QString::fromLatin1(e.how);
            if (how == "enter")
                QTest::keyClick(b.edit(bookctl::Name), Qt::Key_Return);
            else if (how == "escape")
                QTest::keyClick(b.edit(bookctl::Name), Qt::Key_Escape);
            else if (how == "close image")
                b.click(bookctl::Close);
            else
                b.w->close();
        });
        EXPECT_EQ(b.result, e.result);
        EXPECT_TRUE(b.w->chosenNumber().isEmpty());
        EXPECT_EQ(ReadBytes(b.file()), e.saved ? QByteArray("Anna--4021\r\n") : QByteArray("<missing>"));
    }
}

TEST(PhoneBookWindow, AFailedWriteSaysSoAndKeepsTheWindowWithItsEntries) {
    BookWindow b;
    // The folder cannot be made: a file is in its way.
    WriteBytes(b.dir, "not a folder");
    b.run([&] {
        b.type("Anna", "4021");
        b.click(bookctl::Add);
        b.click(bookctl::Close);
        ASSERT_EQ(b.box.shown.size(), 1);
        EXPECT_TRUE(b.box.shown[0].text.startsWith("The phone book could not be saved"));
        EXPECT_TRUE(b.w->isVisible());
        b.w->close();
        EXPECT_TRUE(b.w->isVisible());
        EXPECT_EQ(b.list()->count(), 2);
        EXPECT_EQ(b.list()->item(1)->text(), "Anna--4021");

        // Once the folder can be made, the same close succeeds.
        QFile::remove(b.dir);
        b.click(bookctl::Close);
    });
    EXPECT_EQ(b.result, QDialog::Rejected);
    EXPECT_EQ(ReadBytes(b.file()), QByteArray("Anna--4021\r\n"));
}

TEST(PhoneBookWindow, EditAndDeleteLeaveThePlaceholderSelectedAndTheNameFieldFocused) {
    BookWindow b;
    QDir().mkpath(b.dir);
    WriteBytes(b.file(), "Carl--555\r\nAnna--4021\r\n");
    b.run([&] {
        ASSERT_EQ(b.list()->count(), 3);
        EXPECT_EQ(b.list()->item(1)->text(), "Anna--4021");
        b.select(2);
        b.type("Carla", "556");
        b.click(bookctl::Edit);
        EXPECT_EQ(b.list()->currentRow(), 0);
        EXPECT_EQ(b.list()->item(2)->text(), "Carla--556");
        b.select(1);
        b.click(bookctl::Delete);
        EXPECT_EQ(b.list()->count(), 2);
        EXPECT_EQ(b.list()->currentRow(), 0);
        EXPECT_EQ(b.edit(bookctl::Name)->text(), "");
        EXPECT_EQ(b.w->focusWidget(), b.edit(bookctl::Name));
        b.click(bookctl::Close);
    });
    EXPECT_EQ(ReadBytes(b.file()), QByteArray("Carla--556\r\n"));
}

TEST(PhoneBookWindow, AFailedSaveSaysWhatFailedYetTheCallGoesAheadAndTheEntriesWaitForTheNextSave) {
    BookWindow b;
    WriteBytes(b.dir, "not a folder"); // the folder cannot be made: a file is in its way
    b.run([&] {
        b.type("Anna", "4021");
        b.click(bookctl::Add);
        b.select(1);
        b.click(bookctl::Call);
    });
    EXPECT_EQ(b.result, QDialog::Accepted);
    EXPECT_EQ(b.w->chosenNumber(), "4021");
    ASSERT_EQ(b.box.shown.size(), 1);
    EXPECT_EQ(b.box.shown[0].text,
              QStringLiteral("The phone book could not be saved: the folder %1 cannot be "
                             "written.\nYour entries are kept for the next save; the call "
                             "goes ahead.")
                  .arg(b.dir));

    // The next opening still has the entry, and once the folder can be made it is saved.
    QFile::remove(b.dir);
    b.run([&] {
        EXPECT_EQ(b.list()->count(), 2);
        EXPECT_EQ(b.list()->item(1)->text(), "Anna--4021");
        b.click(bookctl::Close);
    });
    EXPECT_EQ(ReadBytes(b.file()), QByteArray("Anna--4021\r\n"));
}

TEST(PhoneBook, AFileThatCannotBeReadIsNeverReplacedAndSaysSo) {
    QTemporaryDir top;
    const QString dir = top.filePath("SoftPhone");
    const QString path = dir + "/PhoneBook.bin";
    ASSERT_TRUE(QDir().mkpath(dir));
    WriteBytes(path, "Carl--555\r\n");
    EXPECT_TRUE(filetest::WithUnreadableFile(top.path(), dir, path, [&] {
        PhoneBook book(path);
        book.open();
        return book.rows() == QStringList{kNewItemRow} && book.add("Anna", "4021") == Result::Done &&
               book.save() == PhoneBook::SaveResult::Unreadable && book.changed();
    }));
    EXPECT_EQ(ReadBytes(path), QByteArray("Carl--555\r\n"));
}

TEST(PhoneBookWindow, ANameTheFileCannotHoldIsRefusedAndLeftToChange) {
    BookWindow b;
    b.run([&] {
        b.type("", "4021");
        b.edit(bookctl::Name)->insert("Ζωή"); // typed through an input method
        b.click(bookctl::Add);
        ASSERT_EQ(b.box.shown.size(), 1);
        EXPECT_EQ(b.box.shown[0].text, "The phone book can only keep Western European (Latin-1) characters.\n"
                                       "Please change \"Ζωή\" before adding it.");
        EXPECT_EQ(b.list()->count(), 1);
        EXPECT_EQ(b.edit(bookctl::Name)->text(), "Ζωή");
        EXPECT_EQ(b.edit(bookctl::Number)->text(), "4021");
        b.type("Zoe", "4021");
        b.click(bookctl::Add);
        b.click(bookctl::Close);
    });
    EXPECT_EQ(ReadBytes(b.file()), QByteArray("Zoe--4021\r\n"));
}

TEST(PhoneBookWindow, TabbingIntoTheListLeavesWhatWasTypedAlone) {
    BookWindow b;
    QDir().mkpath(b.dir);
    WriteBytes(b.file(), "Carl--555\r\n");
    b.run([&] {
        QApplication::setActiveWindow(b.w.get());
        b.type("Anna", "4021");
        for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
            // From the field before or after the list, into it.
            b.edit(key == Qt::Key_Tab ? bookctl::Number : bookctl::Name)->setFocus();
            b.list()->clearFocus();
            b.edit(key == Qt::Key_Tab ? bookctl::Number : bookctl::Name)->setFocus();
            for (int i = 0; i < 12 && QApplication::focusWidget() != b.list(); ++i)
                QTest::keyClick(QApplication::focusWidget(), key);
            ASSERT_EQ(QApplication::focusWidget(), b.list());
            EXPECT_EQ(b.edit(bookctl::Name)->text(), "Anna");
            EXPECT_EQ(b.edit(bookctl::Number)->text(), "4021");
        }
        // Choosing a row with the keyboard still fills the fields.
        QTest::keyClick(b.list(), Qt::Key_Down);
        EXPECT_EQ(b.edit(bookctl::Name)->text(), "Carl");
        b.click(bookctl::Add); // an entry is selected: nothing is added
        QTest::keyClick(b.list(), Qt::Key_Escape);
    });
}

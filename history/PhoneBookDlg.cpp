#include "history/PhoneBookDlg.h"

#include "platform/MessageBox.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcPhoneBook, "orvane.history", QtWarningMsg)

namespace {

using K = ControlKind;

// Positions in dialog units of the 392 × 299 template; the skin cuts the window to 289 × 412.
const ControlTable& PhoneBookTemplate() {
    using namespace bookctl;
    static const ControlTable table = {
        {Close, K::Picture, "350", true, 166, 12, 13, 10, "Close", {}, cs::Notify},
        {List, K::ListBox, "", true, 12, 26, 171, 150, nullptr, {}, 0, "Phone book"},
        {NameLabel, K::Label, "Name", true, 25, 181, 42, 11},
        {Name, K::Edit, "", true, 69, 179, 85, 14, nullptr, {}, 0, "Name"},
        {NumberLabel, K::Label, "Phone No.", true, 25, 196, 42, 11},
        {Number, K::Edit, "", true, 69, 195, 85, 13, nullptr, {}, 0, "Phone number"},
        {Add, K::BitmapButton, "cmdAdd", true, 16, 212, 27, 13},
        {Edit, K::BitmapButton, "cmdEdit", true, 55, 212, 27, 13},
        {Call, K::BitmapButton, "cmdCall", true, 96, 212, 27, 13},
        {Delete, K::BitmapButton, "cmdDelete", true, 136, 212, 27, 13},
    };
    return table;
}

// Longer entries are of no use to a phone and would not fit the list.
constexpr int kFieldLimit = 128;

// What failed, for the user and the log.
QString SaveFailureText(PhoneBook::SaveResult result, const QString& path) {
    if (result == PhoneBook::SaveResult::Unreadable)
        return QStringLiteral(
                   "The phone book could not be saved: %1 cannot be read, so it was left as it is.")
            .arg(path);
    return QStringLiteral("The phone book could not be saved: the folder %1 cannot be written.")
        .arg(QFileInfo(path).absolutePath());
}

} // namespace

CPhoneBook::CPhoneBook(PhoneBook& book, IMessageBox& box, QWidget* parent)
    : SkinnedDialog(parent, Qt::Dialog, bookctl::Skin, 392, 299), box_(box), book_(book) {
    setObjectName(QStringLiteral("phoneBookWindow"));
    createControls(PhoneBookTemplate());
    applyTooltips();
    for (int id : {bookctl::Name, bookctl::Number})
        controlAs<QLineEdit>(id)->setMaxLength(kFieldLimit);
    setTabOrder({bookctl::List, bookctl::Name, bookctl::Number, bookctl::Add, bookctl::Edit, bookctl::Call,
                 bookctl::Delete, bookctl::Close});
}

void CPhoneBook::showEvent(QShowEvent* event) {
    SkinnedDialog::showEvent(event);
    if (opened_)
        return;
    opened_ = true;
    chosen_.clear();
    book_.open();
    showRows(-1);
    loadButtonImages({bookctl::Add, bookctl::Edit, bookctl::Delete, bookctl::Call});
    // Ready to type a new entry; nothing is selected.
    control(bookctl::Name)->setFocus();
}

void CPhoneBook::showRows(int select) {
    setListRows(bookctl::List, book_.rows());
    auto* list = controlAs<QListWidget>(bookctl::List);
    const QSignalBlocker quiet(list);
    list->setCurrentRow(select);
}

void CPhoneBook::emptyFields() {
    setControlText(bookctl::Name, QString());
    setControlText(bookctl::Number, QString());
}

void CPhoneBook::onListSelectionChanged(int id) {
    const QList<QListWidgetItem*> chosen = controlAs<QListWidget>(id)->selectedItems();
    const int row = chosen.isEmpty() ? -1 : controlAs<QListWidget>(id)->row(chosen.first());
    const PhoneBookEntry entry = book_.select(row);
    setControlText(bookctl::Name, entry.name);
    setControlText(bookctl::Number, entry.number);
}

void CPhoneBook::onCommand(int id) {
    using Result = PhoneBook::Result;
    const QString name = controlText(bookctl::Name);
    const QString number = controlText(bookctl::Number);
    switch (id) {
    case bookctl::Add:
    case bookctl::Edit: {
        const Result r = id == bookctl::Add ? book_.add(name, number) : book_.edit(name, number);
        if (r == Result::Blank) {
            box_.show(kPhoneBookBlankMessage);
        } else if (r == Result::Unsupported) {
            // The file keeps one byte per character: anything else would be saved as "?".
            box_.show(QStringLiteral("The phone book can only keep Western European (Latin-1) characters.\n"
                                     "Please change \"%1\" before adding it.")
                          .arg(FitsPhoneBookFile(name) ? number : name),
                      kAppTitle, BoxIcon::Warning);
        } else if (r == Result::Done) {
            // After an edit the placeholder is selected; after an add nothing is.
            showRows(id == bookctl::Edit ? 0 : -1);
            emptyFields();
        }
        break;
    }
    case bookctl::Delete:
        book_.remove();
        showRows(0);
        emptyFields();
        control(bookctl::Name)->setFocus();
        break;
    case bookctl::Call:
        if (book_.call(number)) {
            // A book that cannot be saved keeps its entries for the next save; the call goes on.
            chosen_ = book_.chosenNumber();
            keepChanges(true);
            done(QDialog::Accepted);
        }
        break;
    case bookctl::Close:
        finish(QDialog::Rejected);
        break;
    default:
        break;
    }
}

bool CPhoneBook::keepChanges(bool calling) {
    if (!book_.changed())
        return true;
    const PhoneBook::SaveResult result = book_.save();
    if (result == PhoneBook::SaveResult::Saved)
        return true;
    const QString what = SaveFailureText(result, book_.path());
    const QString then = calling
                             ? QStringLiteral("Your entries are kept for the next save; the call goes ahead.")
                             : QStringLiteral("Your entries are still here: once that is mended, close the "
                                              "phone book again.");
    box_.show(what + QLatin1Char('\n') + then, kAppTitle, BoxIcon::Warning);
    return false;
}

void CPhoneBook::sessionEnds() {
    if (book_.changed()) {
        const PhoneBook::SaveResult result = book_.save();
        if (result != PhoneBook::SaveResult::Saved)
            qCWarning(lcPhoneBook, "%s", qPrintable(SaveFailureText(result, book_.path())));
    }
    chosen_.clear();
    done(QDialog::Accepted);
}

bool CPhoneBook::finish(int result) {
    if (!keepChanges())
        return false;
    done(result);
    return true;
}

void CPhoneBook::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        chosen_.clear(); // Enter ends the window without a call
        finish(QDialog::Accepted);
        break;
    case Qt::Key_Escape:
        reject(); // the one way out that drops the changes
        break;
    default:
        SkinnedDialog::keyPressEvent(event);
    }
}

void CPhoneBook::closeEvent(QCloseEvent* event) {
    // A close request from the desktop keeps the changes like the close image does.
    if (!keepChanges()) {
        event->ignore();
        return;
    }
    SkinnedDialog::closeEvent(event);
}

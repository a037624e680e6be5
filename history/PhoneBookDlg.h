// The phone book window: the sorted entries with the " NEW ITEM" placeholder, the name and
// number fields, add, edit, delete and call, over its own skin. It ends with OK and a chosen
// number from the call command (or with OK and none from Enter), and with Cancel from its close
// image, a close request or Escape. Every way out but Escape keeps the changes.
#pragma once

#include "history/PhoneBook.h"
#include "skin/SkinnedDialog.h"

class IMessageBox;

namespace bookctl {
constexpr int Skin = 331;
constexpr int Close = 350;
constexpr int List = 1066;
constexpr int Name = 1067;
constexpr int Number = 1069;
constexpr int Add = 1070;
constexpr int Edit = 1071;
constexpr int Delete = 1072;
constexpr int Call = 1073;
constexpr int NameLabel = 1076;
constexpr int NumberLabel = 1077;
} // namespace bookctl

class CPhoneBook : public SkinnedDialog {
    Q_OBJECT
public:
    // `book` outlives the window: entries that could not be saved stay in it for the next save.
    CPhoneBook(PhoneBook& book, IMessageBox& box, QWidget* parent = nullptr);

    // The number to call once the window has ended with OK; empty for none.
    const QString& chosenNumber() const { return chosen_; }
    const PhoneBook& book() const { return book_; }

    // The changes are kept as by OK (quietly; a failure goes to the log), and no call follows.
    void sessionEnds() override;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void onCommand(int id) override;
    void onListSelectionChanged(int id) override;

private:
    void showRows(int select);
    void emptyFields();
    // Saves what changed; when the book cannot be written, says what failed and returns false
    // (the entries stay in the book). `calling`: the call goes ahead regardless.
    bool keepChanges(bool calling = false);
    // Keeps the changes, then ends with `result`.
    bool finish(int result);

    IMessageBox& box_;
    PhoneBook& book_;
    QString chosen_;
    bool opened_ = false;
};

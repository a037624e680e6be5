// The phone book's entries, without the window: rows of name + "--" + number kept sorted under
// the " NEW ITEM" placeholder, the selection, add, edit, delete and call, and the file
// "PhoneBook.bin" beside the call history (one row per line, CR LF, one byte per character).
#pragma once

#include <QString>
#include <QStringList>

inline const QString kNewItemRow = QStringLiteral(" NEW ITEM");
inline const QString kPhoneBookBlankMessage = QStringLiteral("Name and Phone Number Should  Not be blank");

QString PhoneBookFileName();

struct PhoneBookEntry {
    QString name;
    QString number;
};

// Whether the file can hold the text: one byte per character, Latin-1.
bool FitsPhoneBookFile(const QString& text);

// Splits a row at its first "--"; a row without one (edited by hand) is all name.
PhoneBookEntry SplitPhoneBookRow(const QString& row);

class PhoneBook {
public:
    explicit PhoneBook(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }

    // Fills the list from the file (a missing or unreadable file gives an empty book); nothing
    // is selected and no number is chosen. Changes an earlier save could not write are kept
    // instead, for the next save.
    void open();

    // The placeholder first, then the entries sorted alphabetically without regard to case.
    const QStringList& rows() const { return rows_; }
    // The row whose entry is in the fields; -1 for none.
    int selected() const { return selected_; }
    const QString& chosenNumber() const { return chosen_; }
    // Whether the rows differ from what the file held when opened or last saved.
    bool changed() const { return changed_; }

    // The user selected a row: what the name and number fields then show (both empty for the
    // placeholder).
    PhoneBookEntry select(int row);

    enum class Result {
        Done,    // the row list changed; the fields are to be emptied
        Ignored, // not possible in this state (add with an entry selected, edit with none)
        Blank,   // the name or the number is empty after trimming: say so, change nothing
        // The name or the number holds a character the file cannot (beyond Latin-1): say so,
        // change nothing.
        Unsupported,
    };
    // Adds the entry (both parts trimmed) when no entry is selected.
    Result add(const QString& name, const QString& number);
    // Replaces the selected entry; the placeholder is selected afterwards.
    Result edit(const QString& name, const QString& number);
    // Removes the selected entry, if any; the placeholder is selected afterwards in any case.
    void remove();
    // The call command with the number field's text: true when the window is to end with that
    // number chosen.
    bool call(const QString& numberFieldText);

    enum class SaveResult {
        Saved,
        Unreadable, // the file exists but could not be read: it is never overwritten
        NotWritten, // the folder or the file could not be written
    };
    // Writes every row but the placeholder, trimmed, replacing the file atomically. When it
    // cannot, the file keeps its old content and the entries stay as they are, changed.
    SaveResult save();

private:
    void insertSorted(const QString& row);

    QString path_;
    QStringList rows_{kNewItemRow};
    int selected_ = -1;
    QString chosen_;
    bool changed_ = false;
    bool unreadable_ = false;
};

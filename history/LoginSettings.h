// The saved login: a few string values in the user's settings file (QSettings "Kestu",
// "SoftPhone", i.e. $XDG_CONFIG_HOME/Kestu/SoftPhone.conf). The file may hold a password (until
// the keyring has taken it, see SavedPassword), so it is kept private to the user: the file 0600,
// its folder 0700.
#pragma once

#include <QList>
#include <QString>

#include <optional>
#include <utility>

class LoginSettings {
public:
    static inline const QString kUserName = QStringLiteral("UserName");
    static inline const QString kPassword = QStringLiteral("Password1");
    static inline const QString kServer = QStringLiteral("SIPIP");
    static inline const QString kAccountNumber = QStringLiteral("AccNumber");
    static inline const QString kAccountPassword = QStringLiteral("AccPasword"); // spelled as stored
    static inline const QString kSave = QStringLiteral("Save");

    // Values longer than this are ignored when read.
    static constexpr int kMaxValueLength = 126;

    // The stored text, or nothing when the value is missing, longer than kMaxValueLength
    // characters, or not a string (a list, a number or any other typed value).
    std::optional<QString> read(const QString& name) const;

    // Stores the value and writes the file at once. False when the file cannot be written.
    bool write(const QString& name, const QString& value);
    // Stores several values, in order, with one write of the file.
    bool write(const QList<std::pair<QString, QString>>& values);

    // Whether "Save" holds exactly "Y".
    bool saveChecked() const;

    // Where the values live.
    static QString fileName();
};

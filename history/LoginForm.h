// The login window's behaviour, independent of its widgets: filling it from the saved values
// when it opens, and its login command (save, copy into the main window, close with OK). The
// saved password's own place (the keyring, or the file) is SavedPassword's business.
#pragma once

#include <QString>

class IMainView;
class IMessageBox;
class LoginSettings;
class SavedPassword;

// Controls of the login window.
namespace loginctl {
constexpr int Skin = 329;
constexpr int UserName = 1055;
constexpr int Password = 1002;
constexpr int Save = 1059;
constexpr int Login = 1064;
constexpr int Exit = 1065;
constexpr int UserNameLabel = 1060;
constexpr int PasswordLabel = 1061;
constexpr int AccNumberLabel = 1062;
constexpr int AccPasswordLabel = 1063;
constexpr int SaveLabel = 1084;
constexpr int Server = 1005;
constexpr int AccNumber = 1051;
constexpr int AccPassword = 1052;
constexpr int ServerLabel = 1082;
} // namespace loginctl

class ILoginForm {
public:
    virtual ~ILoginForm() = default;
    virtual QString text(int id) const = 0;
    virtual void setText(int id, const QString& text) = 0;
    virtual bool isSaveChecked() const = 0;
    virtual void setSaveChecked(bool on) = 0;
};

// Fills the form from the saved values of the file: "Password1", "Save", "SIPIP", "UserName".
void LoginWindowOpen(ILoginForm& form, const LoginSettings& settings);

// The login command. True when the window is to close with OK (the main window's account
// fields then hold the entries); false when it stays open after a message.
bool LoginWindowCommand(ILoginForm& form, LoginSettings& settings, SavedPassword& saved, IMainView& main,
                        IMessageBox& box, const QString& defaultServer);

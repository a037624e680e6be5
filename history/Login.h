// The login window: user name, password and "save" check box over its own skin. It fills itself
// from the saved values when shown and, on login, saves them, copies them into the main window's
// account fields and closes with OK. A password saved in the keyring fills the password field
// when the keyring answers, unless the user has begun typing it; a login asked for before that
// answer waits for it, at most SavedPassword::answerBoundMs, with the window working meanwhile.
#pragma once

#include "history/LoginForm.h"
#include "history/LoginSettings.h"
#include "skin/SkinnedDialog.h"

#include <optional>

class IMainView;
class IMessageBox;
class SavedPassword;

class CLogin : public SkinnedDialog, public ILoginForm {
    Q_OBJECT
public:
    CLogin(IMainView& main, IMessageBox& box, SavedPassword& saved, QString defaultServer,
           QWidget* parent = nullptr);

    // ILoginForm
    QString text(int id) const override;
    void setText(int id, const QString& text) override;
    bool isSaveChecked() const override;
    void setSaveChecked(bool on) override;

    // The login command (button 1064, Enter anywhere in the window).
    void OnLogin();
    // Whether the window still waits for the keyring's answer.
    bool waitingForKeyring() const { return waitingForKeyring_; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void onCommand(int id) override;

private:
    void fillOnOpen();
    void askKeyring(const QString& user);
    void keyringAnswered(const std::optional<QString>& password);
    void runQueuedLogin();

    IMainView& main_;
    IMessageBox& box_;
    QString defaultServer_;
    LoginSettings settings_;
    SavedPassword& saved_;
    bool opened_ = false;
    QString askedUser_;
    bool waitingForKeyring_ = false;
    bool passwordTyped_ = false;
    bool loginQueued_ = false;
};

// The login window: user name, password and "save" check box over its own skin. It fills itself
// from the saved values when shown and, on login, saves them, copies them into the main window's
// account fields and closes with OK.
#pragma once

#include "history/LoginForm.h"
#include "history/LoginSettings.h"
#include "skin/SkinnedDialog.h"

class IMainView;
class IMessageBox;

class CLogin : public SkinnedDialog, public ILoginForm {
    Q_OBJECT
public:
    CLogin(IMainView& main, IMessageBox& box, QString defaultServer, QWidget* parent = nullptr);

    // ILoginForm
    QString text(int id) const override;
    void setText(int id, const QString& text) override;
    bool isSaveChecked() const override;
    void setSaveChecked(bool on) override;

    // The login command (button 1064, Enter anywhere in the window).
    void OnLogin();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void onCommand(int id) override;

private:
    void fillOnOpen();

    IMainView& main_;
    IMessageBox& box_;
    QString defaultServer_;
    LoginSettings settings_;
    bool opened_ = false;
};

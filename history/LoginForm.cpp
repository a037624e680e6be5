#include "history/LoginForm.h"

#include "history/CallRecords.h"
#include "history/LoginSettings.h"
#include "history/SavedPassword.h"
#include "phone/ControlIds.h"
#include "phone/MainView.h"
#include "platform/MessageBox.h"

#include <QScopeGuard>

void LoginWindowOpen(ILoginForm& form, const LoginSettings& settings) {
    if (const auto password = settings.read(LoginSettings::kPassword))
        form.setText(loginctl::Password, *password);
    form.setSaveChecked(settings.saveChecked());
    if (const auto server = settings.read(LoginSettings::kServer))
        form.setText(loginctl::Server, *server);
    if (const auto user = settings.read(LoginSettings::kUserName))
        form.setText(loginctl::UserName, *user);
}

bool LoginWindowCommand(ILoginForm& form, LoginSettings& settings, SavedPassword& saved, IMainView& main,
                        IMessageBox& box, const QString& defaultServer) {
    const QString previousUser =
        settings.saveChecked() ? settings.read(LoginSettings::kUserName).value_or(QString()) : QString();
    // The values are written together, once, on every way out: those taken before a refusal
    // stay saved. A store that cannot be written makes the save a silent no-op; the login goes on.
    QList<std::pair<QString, QString>> taken;
    const auto writeTaken = qScopeGuard([&] {
        if (!taken.isEmpty())
            settings.write(taken);
    });
    const auto save = [&](const QString& name, const QString& value) {
        taken.append({name, form.isSaveChecked() ? value : QString()});
    };
    const QString blankMessage = QStringLiteral("UserName and Password Must Not be Blank");

    const QString user = TrimBlanks(form.text(loginctl::UserName));
    if (user.isEmpty()) {
        box.show(blankMessage);
        return false;
    }
    save(LoginSettings::kUserName, user);
    main.setText(ctl::UserNameField, user);

    const QString password = TrimBlanks(form.text(loginctl::Password));
    if (password.isEmpty()) {
        box.show(blankMessage);
        return false;
    }
    taken.append(
        {LoginSettings::kPassword, saved.onLoginSaved(previousUser, user, password, form.isSaveChecked())});
    main.setText(ctl::PasswordField, password);

    form.setText(loginctl::Server, defaultServer);
    const QString server = TrimBlanks(form.text(loginctl::Server));
    if (server.isEmpty())
        return false;
    save(LoginSettings::kServer, server);
    main.setText(ctl::ServerField, server);

    const QString accNumber = form.text(loginctl::AccNumber);
    save(LoginSettings::kAccountNumber, accNumber);
    main.setText(ctl::AccNumberField, accNumber);

    const QString accPassword = form.text(loginctl::AccPassword);
    save(LoginSettings::kAccountPassword, accPassword);
    main.setText(ctl::AccPasswordField, accPassword);

    taken.append({LoginSettings::kSave, form.isSaveChecked() ? QStringLiteral("Y") : QStringLiteral("N")});
    return true;
}

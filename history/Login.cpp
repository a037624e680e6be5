#include "history/Login.h"

#include "history/CallRecords.h"
#include "history/SavedPassword.h"
#include "phone/MainView.h"
#include "platform/MessageBox.h"
#include "skin/Fonts.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

namespace {

using K = ControlKind;

// Positions in dialog units; the server and account fields lie beyond the skin and are never
// seen, but take part in the login.
const ControlTable& LoginTemplate() {
    static const ControlTable table = {
        {loginctl::UserName, K::Edit, "", true, 81, 54, 80, 12, nullptr, {}, 0, "User name"},
        {loginctl::Password, K::Edit, "", true, 81, 77, 80, 12, nullptr, {}, cs::Password, "Password"},
        {loginctl::Save, K::CheckBox, "", true, 85, 100, 10, 10, nullptr, {}, 0, "Save the login"},
        {loginctl::Login, K::BitmapButton, "cmdLogin", true, 27, 144, 38, 12},
        {loginctl::Exit, K::BitmapButton, "cmdExit", true, 106, 144, 38, 12},
        {loginctl::UserNameLabel, K::Label, "Username", true, 29, 54, 48, 10},
        {loginctl::PasswordLabel, K::Label, "Password", true, 31, 77, 44, 12},
        {loginctl::SaveLabel, K::Label, "Save", true, 54, 100, 18, 10},
        {loginctl::Server, K::Edit, "", false, 251, 54, 65, 12, nullptr, {}, 0, "Server"},
        {loginctl::AccNumber, K::Edit, "", false, 450, 79, 72, 14, nullptr, {}, 0, "Account number"},
        {loginctl::AccPassword,
         K::Edit,
         "",
         false,
         403,
         102,
         72,
         14,
         nullptr,
         {},
         cs::Password,
         "Account password"},
        {loginctl::ServerLabel, K::Label, "SIP IP/Domain", false, 199, 54, 52, 12},
        {loginctl::AccNumberLabel, K::Label, "Acc. Number", false, 387, 58, 55, 10},
        {loginctl::AccPasswordLabel, K::Label, "Acc. Password", false, 419, 20, 55, 10},
    };
    return table;
}

} // namespace

CLogin::CLogin(IMainView& main, IMessageBox& box, SavedPassword& saved, QString defaultServer,
               QWidget* parent)
    : SkinnedDialog(parent, Qt::Dialog, loginctl::Skin, 522, 203), main_(main), box_(box),
      defaultServer_(std::move(defaultServer)), saved_(saved) {
    setObjectName(QStringLiteral("loginWindow"));
    createControls(LoginTemplate());
    // Enter anywhere in the window runs the login.
    for (int id : {loginctl::UserName, loginctl::Password, loginctl::Save, loginctl::Server,
                   loginctl::AccNumber, loginctl::AccPassword})
        control(id)->installEventFilter(this);
    setTabOrder({loginctl::UserName, loginctl::Password, loginctl::Save, loginctl::Login, loginctl::Exit});
    // Typed, pasted or deleted by the user: the keyring's answer no longer replaces it.
    connect(controlAs<QLineEdit>(loginctl::Password), &QLineEdit::textEdited, this,
            [this] { passwordTyped_ = true; });
}

void CLogin::onCommand(int id) {
    if (id == loginctl::Login)
        OnLogin();
    else if (id == loginctl::Exit)
        reject();
}

void CLogin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!opened_) {
        opened_ = true;
        fillOnOpen();
    }
}

void CLogin::fillOnOpen() {
    const QFont labelFont = LogicalFont(QStringLiteral("Arial"), 15, 5);
    for (int id : {loginctl::UserNameLabel, loginctl::PasswordLabel, loginctl::AccNumberLabel,
                   loginctl::AccPasswordLabel})
        control(id)->setFont(labelFont);
    loadButtonImages({loginctl::Login, loginctl::Exit});
    LoginWindowOpen(*this, settings_);
    control(loginctl::UserName)->setFocus();
    if (const QString user = saved_.userToAsk(); !user.isEmpty())
        askKeyring(user);
}

void CLogin::askKeyring(const QString& user) {
    askedUser_ = user;
    waitingForKeyring_ = true;
    saved_.ask(user, this, [this](const std::optional<QString>& password) { keyringAnswered(password); });
    QTimer::singleShot(saved_.answerBoundMs, this, [this] {
        if (!waitingForKeyring_)
            return;
        waitingForKeyring_ = false;
        saved_.noAnswerInTime();
        runQueuedLogin();
    });
}

void CLogin::keyringAnswered(const std::optional<QString>& password) {
    waitingForKeyring_ = false;
    // Filled only for the user it was asked for, and never over what the user typed.
    if (password && !passwordTyped_ && isVisible() && TrimBlanks(text(loginctl::UserName)) == askedUser_)
        setText(loginctl::Password, *password);
    runQueuedLogin();
}

void CLogin::runQueuedLogin() {
    if (!loginQueued_)
        return;
    loginQueued_ = false;
    if (isVisible())
        OnLogin();
}

void CLogin::done(int result) {
    loginQueued_ = false;
    SkinnedDialog::done(result);
}

QString CLogin::text(int id) const {
    return qobject_cast<const QLineEdit*>(control(id)) ? controlText(id) : QString();
}

void CLogin::setText(int id, const QString& text) {
    if (qobject_cast<QLineEdit*>(control(id)))
        setControlText(id, text);
}

bool CLogin::isSaveChecked() const {
    return controlAs<QCheckBox>(loginctl::Save)->isChecked();
}

void CLogin::setSaveChecked(bool on) {
    controlAs<QCheckBox>(loginctl::Save)->setChecked(on);
}

void CLogin::OnLogin() {
    // A saved password may still be on its way: wait for it rather than send an empty one.
    if (waitingForKeyring_ && !passwordTyped_ && TrimBlanks(text(loginctl::UserName)) == askedUser_) {
        loginQueued_ = true;
        return;
    }
    if (LoginWindowCommand(*this, settings_, saved_, main_, box_, defaultServer_))
        accept();
}

bool CLogin::eventFilter(QObject* watched, QEvent* event) {
    // Enter anywhere in the window runs the login; the key goes no further.
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OnLogin();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CLogin::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        OnLogin();
        break;
    case Qt::Key_Escape:
        reject();
        break;
    default:
        QDialog::keyPressEvent(event);
    }
}

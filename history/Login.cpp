#include "history/Login.h"

#include "mainwindow/MainView.h"
#include "platform/MessageBox.h"
#include "res/Resources.h"
#include "skin/BitmapButton.h"
#include "skin/DialogUnits.h"
#include "skin/Fonts.h"
#include "skin/KestuLabel.h"
#include "skin/ShapedWindow.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace {

enum class Kind { Edit, PasswordEdit, Check, Button, Label };
struct Def {
    int id;
    Kind kind;
    const char* caption;
    bool inSkin;
    int x, y, w, h;
};

// Positions in dialog units; the server and account fields lie beyond the skin and are never
// seen, but take part in the login.
constexpr Def kTemplate[] = {
    {loginctl::UserName, Kind::Edit, "", true, 81, 54, 80, 12},
    {loginctl::Password, Kind::PasswordEdit, "", true, 81, 77, 80, 12},
    {loginctl::Save, Kind::Check, "", true, 85, 100, 10, 10},
    {loginctl::Login, Kind::Button, "cmdLogin", true, 27, 144, 38, 12},
    {loginctl::Exit, Kind::Button, "cmdExit", true, 106, 144, 38, 12},
    {loginctl::UserNameLabel, Kind::Label, "Username", true, 29, 54, 48, 10},
    {loginctl::PasswordLabel, Kind::Label, "Password", true, 31, 77, 44, 12},
    {loginctl::SaveLabel, Kind::Label, "Save", true, 54, 100, 18, 10},
    {loginctl::Server, Kind::Edit, "", false, 251, 54, 65, 12},
    {loginctl::AccNumber, Kind::Edit, "", false, 450, 79, 72, 14},
    {loginctl::AccPassword, Kind::PasswordEdit, "", false, 403, 102, 72, 14},
    {loginctl::ServerLabel, Kind::Label, "SIP IP/Domain", false, 199, 54, 52, 12},
    {loginctl::AccNumberLabel, Kind::Label, "Acc. Number", false, 387, 58, 55, 10},
    {loginctl::AccPasswordLabel, Kind::Label, "Acc. Password", false, 419, 20, 55, 10},
};

} // namespace

CLogin::CLogin(IMainView& main, IMessageBox& box, QString defaultServer, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), main_(main), box_(box),
      defaultServer_(std::move(defaultServer)) {
    setObjectName(QStringLiteral("loginWindow"));
    setWindowTitle(QStringLiteral("Orvane Softphone"));
    resize(dlu::x(522), dlu::y(203));
    shape_ = new ShapedWindow(this, loginctl::Skin);
    createControls();
}

void CLogin::createControls() {
    auto* skin = new QLabel(this);
    skin->setObjectName(QStringLiteral("skin"));
    skin->setPixmap(QPixmap::fromImage(res::bitmap(loginctl::Skin)));
    skin->setGeometry(0, 0, 289, 300);
    skin->setAttribute(Qt::WA_TransparentForMouseEvents);
    skin->lower();

    for (const Def& d : kTemplate) {
        QWidget* w = nullptr;
        const QString caption = QString::fromLatin1(d.caption);
        switch (d.kind) {
        case Kind::Edit:
        case Kind::PasswordEdit: {
            auto* e = new QLineEdit(this);
            if (d.kind == Kind::PasswordEdit)
                e->setEchoMode(QLineEdit::Password);
            w = e;
            break;
        }
        case Kind::Check:
            save_ = new QCheckBox(this);
            w = save_;
            break;
        case Kind::Button: {
            auto* b = new CBitmapButton(this);
            b->setText(caption);
            connect(b, &QAbstractButton::clicked, this,
                    d.id == loginctl::Login ? &CLogin::OnLogin : &CLogin::reject);
            w = b;
            break;
        }
        case Kind::Label:
            w = new CKestuLabel(caption, this);
            break;
        }
        w->setObjectName(QStringLiteral("ctl%1").arg(d.id));
        w->setGeometry(dlu::rect(d.x, d.y, d.w, d.h));
        w->installEventFilter(this);
        controls_[d.id] = w;
    }
}

void CLogin::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!opened_) {
        opened_ = true;
        open();
    }
}

void CLogin::open() {
    const QFont labelFont = LogicalFont(QStringLiteral("Arial"), 15, 5);
    for (int id : {loginctl::UserNameLabel, loginctl::PasswordLabel, loginctl::AccNumberLabel,
                   loginctl::AccPasswordLabel})
        controls_.value(id)->setFont(labelFont);
    for (int id : {loginctl::Login, loginctl::Exit}) {
        auto* b = static_cast<CBitmapButton*>(controls_.value(id));
        const QPoint at = b->pos();
        b->AutoLoad(b->text());
        b->move(at);
    }
    LoginWindowOpen(*this, settings_);
    controls_.value(loginctl::UserName)->setFocus();
}

QString CLogin::text(int id) const {
    if (const auto* e = qobject_cast<const QLineEdit*>(controls_.value(id)))
        return e->text();
    return QString();
}

void CLogin::setText(int id, const QString& text) {
    if (auto* e = qobject_cast<QLineEdit*>(controls_.value(id)))
        e->setText(text);
}

bool CLogin::isSaveChecked() const {
    return save_->isChecked();
}

void CLogin::setSaveChecked(bool on) {
    save_->setChecked(on);
}

void CLogin::OnLogin() {
    if (LoginWindowCommand(*this, settings_, main_, box_, defaultServer_))
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

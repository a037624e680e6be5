#include "mainwindow/KestuSoftPhoneDlg.h"

#include "calls/DialPad.h"
#include "calls/Pickup.h"
#include "calls/Session.h"
#include "engine/EngineSound.h"
#include "engine/RTCEvents.h"
#include "engine/Registration.h"
#include "history/Login.h"
#include "mainwindow/AboutDlg.h"
#include "mainwindow/ControlIds.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/MainInit.h"
#include "mainwindow/MainTemplate.h"
#include "res/Resources.h"
#include "skin/BitmapButton.h"
#include "skin/BitmapSlider.h"
#include "skin/DialogUnits.h"
#include "skin/Fonts.h"
#include "skin/KestuEdit.h"
#include "skin/KestuLabel.h"
#include "skin/KestuProgressBar.h"
#include "skin/ShapedWindow.h"
#include "skin/SliderMessage.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {

QFont MakeFont(const FontSpec& font) {
    return LogicalFont(QString::fromLatin1(font.face), font.height, font.width);
}

} // namespace

CKestuSoftPhoneDlg::CKestuSoftPhoneDlg(MainWindowServices services, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), services_(std::move(services)),
      ownBox_(services_.box ? nullptr : std::make_unique<QtMessageBox>(this)),
      ownSound_(services_.sound ? nullptr : std::make_unique<EngineSoundPlayer>(services_.soundDir)),
      phone_(*this, services_.box ? *services_.box : *ownBox_,
             services_.sound ? *services_.sound : *ownSound_, *services_.clock, *services_.https,
             CallHistory(services_.historyDir), services_.config) {
    if (auto* engineSound = dynamic_cast<EngineSoundPlayer*>(ownSound_.get()))
        engineSound->setClientSlot(&phone_.st.client);
    setWindowTitle(QStringLiteral("Orvane Softphone"));
    setObjectName(QStringLiteral("mainWindow"));
    // The template's size; the skin's outline then cuts the window to 285 × 473.
    resize(dlu::x(648), dlu::y(401));
    shape_ = new ShapedWindow(this, 355);
    createControls();
    wireCommands();
    qApp->installEventFilter(this);
}

CKestuSoftPhoneDlg::~CKestuSoftPhoneDlg() {
    qApp->removeEventFilter(this);
    for (QTimer* t : std::as_const(timers_))
        t->stop();
    delete login_;
    login_ = nullptr;
}

void CKestuSoftPhoneDlg::createControls() {
    auto* skin = new QLabel(this);
    skin->setObjectName(QStringLiteral("skin"));
    skin->setPixmap(QPixmap::fromImage(res::bitmap(355)));
    skin->setGeometry(0, 0, dlu::x(190), dlu::y(291));
    skin->setAttribute(Qt::WA_TransparentForMouseEvents);
    skin->lower();

    for (const ControlDef& def : MainTemplate()) {
        QWidget* w = nullptr;
        const QString caption = QString::fromLatin1(def.caption);
        switch (def.kind) {
        case ControlKind::Edit: {
            auto* e = new CKestuEdit(this);
            if (def.hiddenChars)
                e->setEchoMode(QLineEdit::Password);
            if (def.centred)
                e->setAlignment(Qt::AlignCenter);
            e->setFrame(false);
            const int id = def.id;
            connect(e, &CKestuEdit::focusReceived, this, [this, id] { OnFieldFocus(phone_, id); });
            w = e;
            break;
        }
        case ControlKind::BitmapButton: {
            auto* b = new CBitmapButton(this);
            b->setText(caption);
            b->setFocusPolicy(Qt::NoFocus);
            w = b;
            break;
        }
        case ControlKind::PlainButton:
            w = new QPushButton(caption, this);
            break;
        case ControlKind::Label: {
            auto* l = new CKestuLabel(caption, this);
            w = l;
            break;
        }
        case ControlKind::PlainStatic:
            w = new QLabel(caption, this);
            break;
        case ControlKind::LevelBar:
            w = new CKestuProgressBar(this);
            break;
        case ControlKind::Slider: {
            auto* s = new CBitmapSlider(this);
            s->setControlId(def.id);
            w = s;
            break;
        }
        case ControlKind::DatePicker:
            w = new QDateTimeEdit(QDate::currentDate(), this);
            break;
        }
        w->setObjectName(caption.isEmpty() ? QStringLiteral("ctl%1").arg(def.id) : caption);
        w->setProperty("controlId", def.id);
        w->setGeometry(dlu::rect(def.x, def.y, def.w, def.h));
        w->setVisible(def.shown);
        controls_[def.id] = w;
    }
}

void CKestuSoftPhoneDlg::wireCommands() {
    for (auto it = controls_.cbegin(); it != controls_.cend(); ++it) {
        const int id = it.key();
        if (auto* b = qobject_cast<QAbstractButton*>(it.value()))
            connect(b, &QAbstractButton::clicked, this, [this, id] { onCommand(id); });
        if (auto* l = qobject_cast<CKestuLabel*>(it.value())) {
            if (id == ctl::WebLink || id == ctl::HelpLink) {
                l->setClickable(true);
                connect(l, &CKestuLabel::clicked, this, [this, id] { onCommand(id); });
            }
        }
    }
}

void CKestuSoftPhoneDlg::onCommand(int id) {
    Phone& p = phone_;
    if (DialKeyForControl(id)) {
        OnDigitButton(p, id);
        return;
    }
    switch (id) {
    case ctl::Register:
        LoginCommand(p);
        break;
    case ctl::LoginLogoff:
        OnLoginLogoffCommand(p);
        break;
    case ctl::LogOff:
        OnLogOffCommand(p);
        break;
    case ctl::Hangup:
        OnHangup(p);
        break;
    case ctl::Pickup:
        OnPickup(p);
        break;
    case ctl::Audio:
        OnAudioWizardCommand(p);
        break;
    case ctl::Back:
        OnBack(p);
        break;
    case ctl::Redial:
        OnRedial(p);
        break;
    case ctl::Rate:
        openUrl(kBillingSiteUrl + QLatin1Char('/'));
        break;
    case ctl::CallHistory:
        openUrl(kBillingSiteUrl);
        break;
    case ctl::Cross:
        OnCloseCommand(p);
        break;
    case ctl::Minimize:
        OnMinimizeCommand(p);
        break;
    case ctl::Account:
        openAccountLogin();
        break;
    case ctl::WebLink:
        openUrl(kWebSiteUrl);
        break;
    case ctl::HelpLink:
        openUrl(kUserGuideUrl);
        break;
    case ctl::Clear:
    case ctl::Clear1:
        OnClear(p);
        break;
    default:
        break; // the phone book and call history windows are not built yet
    }
}

void CKestuSoftPhoneDlg::openAccountLogin() {
    CLogin login(*this, phone_.box, phone_.config.sipServer, this);
    login_ = &login;
    const int result = login.exec();
    login_ = nullptr;
    if (result == QDialog::Accepted)
        LoginCommand(phone_);
}

void CKestuSoftPhoneDlg::openUrl(const QString& url) {
    if (services_.openUrl)
        services_.openUrl(url);
    else
        QDesktopServices::openUrl(QUrl(url));
}

void CKestuSoftPhoneDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

int CKestuSoftPhoneDlg::DoModal() {
    RunMainInit(phone_, *this, services_.engineFactory, this);
    if (pendingResult_)
        return pendingResult_;
    running_ = true;
    const int result = exec();
    running_ = false;
    return result;
}

bool CKestuSoftPhoneDlg::timerRunning(int id) const {
    const QTimer* t = timers_.value(id);
    return t && t->isActive();
}

// ---- IMainView

QString CKestuSoftPhoneDlg::text(int id) const {
    const QWidget* w = controls_.value(id);
    if (const auto* e = qobject_cast<const QLineEdit*>(w))
        return e->text();
    if (const auto* l = qobject_cast<const QLabel*>(w))
        return l->text();
    if (const auto* b = qobject_cast<const QAbstractButton*>(w))
        return b->text();
    return QString();
}

void CKestuSoftPhoneDlg::setText(int id, const QString& text) {
    QWidget* w = controls_.value(id);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* kl = qobject_cast<CKestuLabel*>(w))
        kl->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
}

void CKestuSoftPhoneDlg::enable(int id, bool on) {
    if (QWidget* w = controls_.value(id))
        w->setEnabled(on);
}

bool CKestuSoftPhoneDlg::isEnabled(int id) const {
    const QWidget* w = controls_.value(id);
    return w && w->isEnabled();
}

void CKestuSoftPhoneDlg::showControl(int id) {
    if (QWidget* w = controls_.value(id))
        w->show();
}

void CKestuSoftPhoneDlg::focus(int id) {
    QWidget* w = controls_.value(id);
    if (!w)
        return;
    w->setFocus(Qt::OtherFocusReason);
    // The platform reports the focus at once; Qt only when the window is active.
    OnFieldFocus(phone_, id);
}

void CKestuSoftPhoneDlg::caretToEnd(int id) {
    if (auto* e = qobject_cast<QLineEdit*>(controls_.value(id)))
        e->end(false);
}

int CKestuSoftPhoneDlg::selectionStart(int id) const {
    const auto* e = qobject_cast<const QLineEdit*>(controls_.value(id));
    if (!e)
        return 0;
    return e->hasSelectedText() ? static_cast<int>(e->selectionStart()) : e->cursorPosition();
}

void CKestuSoftPhoneDlg::setCaret(int id, int pos) {
    if (auto* e = qobject_cast<QLineEdit*>(controls_.value(id))) {
        e->deselect();
        e->setCursorPosition(pos);
    }
}

void CKestuSoftPhoneDlg::hideCaret(int id) {
    if (auto* e = qobject_cast<CKestuEdit*>(controls_.value(id)))
        e->setCaretHidden(true);
}

void CKestuSoftPhoneDlg::startTimer(int id, int ms) {
    QTimer*& t = timers_[id];
    if (!t) {
        t = new QTimer(this);
        connect(t, &QTimer::timeout, this, [this, id] { OnTimer(phone_, id); });
    }
    t->start(ms);
}

void CKestuSoftPhoneDlg::stopTimer(int id) {
    if (QTimer* t = timers_.value(id))
        t->stop();
}

void CKestuSoftPhoneDlg::flash() {
    ++flashes_;
    QApplication::alert(this, 250);
}

void CKestuSoftPhoneDlg::restore() {
    showNormal();
}

void CKestuSoftPhoneDlg::minimize() {
    showMinimized();
}

void CKestuSoftPhoneDlg::setLevelRange(int id, int min, int max) {
    if (auto* bar = qobject_cast<CKestuProgressBar*>(controls_.value(id)))
        bar->setRange(min, max);
}

void CKestuSoftPhoneDlg::setLevel(int id, int pos) {
    if (auto* bar = qobject_cast<CKestuProgressBar*>(controls_.value(id)))
        bar->setValue(pos);
}

void CKestuSoftPhoneDlg::setSliderPosition(int id, int pos) {
    if (auto* s = qobject_cast<CBitmapSlider*>(controls_.value(id)))
        s->SetPosition(pos);
}

void CKestuSoftPhoneDlg::endDialog(int result) {
    if (running_)
        done(result);
    else
        pendingResult_ = result;
}

// ---- IMainInitView

void CKestuSoftPhoneDlg::setupTooltips() {
    for (const ControlDef& def : MainTemplate())
        if (def.tooltip)
            controls_.value(def.id)->setToolTip(QString::fromLatin1(def.tooltip));
}

void CKestuSoftPhoneDlg::addAboutMenuEntry() {
    // A frameless window has no system menu: the About entry lives in the window's context menu.
    auto* about = new QAction(QStringLiteral("&About KestuSoftPhone..."), this);
    about->setObjectName(QStringLiteral("aboutAction"));
    connect(about, &QAction::triggered, this, &CKestuSoftPhoneDlg::showAbout);
    addAction(about);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CKestuSoftPhoneDlg::setIcons() {
    setWindowIcon(res::appIcon());
}

void CKestuSoftPhoneDlg::loadButtonImages(const QList<int>& order) {
    for (int id : order) {
        auto* b = qobject_cast<CBitmapButton*>(controls_.value(id));
        if (!b)
            continue;
        const QPoint at = b->pos();
        b->AutoLoad(b->text());
        b->move(at);
    }
}

void CKestuSoftPhoneDlg::setNumberFieldColours() {
    auto* e = qobject_cast<CKestuEdit*>(controls_.value(ctl::NumberField));
    e->SetBackColor(QColor(244, 244, 244));
    e->SetTextColor(Qt::black);
    e->update();
}

void CKestuSoftPhoneDlg::setNumberFieldFont() {
    controls_.value(ctl::NumberField)->setFont(MakeFont(FindControl(ctl::NumberField)->font));
}

void CKestuSoftPhoneDlg::setupSliders() {
    const struct { int id, thumb; } sliders[] = {{ctl::MicSlider, 320}, {ctl::SpeakerSlider, 319}};
    for (const auto& s : sliders) {
        auto* slider = qobject_cast<CBitmapSlider*>(controls_.value(s.id));
        slider->ShowFocusRect(false);
        slider->SetThumbImage(s.thumb);
        slider->SetChannelImage(s.id);
        slider->SetRange(0, 65535);
        slider->update();
    }
}

void CKestuSoftPhoneDlg::createLoginWindow() {
    delete login_;
    login_ = new CLogin(*this, phone_.box, phone_.config.sipServer, this);
}

void CKestuSoftPhoneDlg::setLabelFonts() {
    for (const ControlDef& def : MainTemplate())
        if (def.font.face && def.kind == ControlKind::Label)
            controls_.value(def.id)->setFont(MakeFont(def.font));
}

int CKestuSoftPhoneDlg::runLoginWindow() {
    const int result = login_->exec();
    return result == QDialog::Accepted ? 1 : 2;
}

void CKestuSoftPhoneDlg::destroyLoginWindow() {
    delete login_;
    login_ = nullptr;
}

// ---- messages and keys

bool CKestuSoftPhoneDlg::event(QEvent* e) {
    if (e->type() == kEngineEventMessage) {
        auto* m = static_cast<EngineEventMessage*>(e);
        DispatchEngineEvent(phone_, m->eventType(), m->takeEvent());
        return true;
    }
    if (SliderMessage::isSliderMessage(e)) {
        auto* m = static_cast<SliderMessage*>(e);
        if (auto* s = qobject_cast<CBitmapSlider*>(controls_.value(m->wParam())))
            OnVolumeSlider(phone_, m->wParam(), m->lParam(), s->IsVertical(), s->GetRangeMax());
        return true;
    }
    return QDialog::event(e);
}

int CKestuSoftPhoneDlg::VirtualKeyOf(const QKeyEvent* e) {
    const int key = e->key();
    const bool keypad = e->modifiers() & Qt::KeypadModifier;
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return (keypad ? vk::Numpad0 : vk::Digit0) + (key - Qt::Key_0);
    if (key == Qt::Key_Asterisk && keypad)
        return vk::Multiply;
    if (key == Qt::Key_Print)
        return vk::Print;
    if (key == Qt::Key_End)
        return vk::End;
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        return vk::Return;
    // A shifted digit key of the main keyboard ("#" over the 3) is still that digit's key: X11
    // key codes 10..19 are the row 1..9, 0.
    const quint32 code = e->nativeScanCode();
    if (code >= 10 && code <= 19)
        return vk::Digit0 + static_cast<int>((code - 9) % 10);
    return 0;
}

bool CKestuSoftPhoneDlg::eventFilter(QObject* watched, QEvent* e) {
    // Every key press bound for this window or one of its controls passes the keyboard rules
    // first, once: a key a control ignores travels on to its parents as the same event, which
    // must not count again.
    if (e->type() == QEvent::KeyRelease) {
        lastKey_ = nullptr;
    } else if (e->type() == QEvent::KeyPress && watched->isWidgetType() &&
               static_cast<QWidget*>(watched)->window() == this) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (key != lastKey_ || key->timestamp() != lastKeyTime_ || key->key() != lastKeyCode_) {
            lastKey_ = key;
            lastKeyTime_ = key->timestamp();
            lastKeyCode_ = key->key();
            if (const int code = VirtualKeyOf(key))
                PreTranslateKeyDown(phone_, code);
        }
    }
    return QDialog::eventFilter(watched, e);
}

void CKestuSoftPhoneDlg::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape never close the window.
    switch (e->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        e->accept();
        return;
    default:
        QDialog::keyPressEvent(e);
    }
}

void CKestuSoftPhoneDlg::closeEvent(QCloseEvent* e) {
    // The window ends only through its close button (or a cancelled start-up login).
    e->ignore();
}

#include "mainwindow/KestuSoftPhoneDlg.h"

#include "calls/CallLink.h"
#include "calls/DialPad.h"
#include "calls/Pickup.h"
#include "calls/Session.h"
#include "engine/EngineSound.h"
#include "engine/RTCEvents.h"
#include "history/CallLog.h"
#include "history/Login.h"
#include "history/PhoneBookDlg.h"
#include "mainwindow/AboutDlg.h"
#include "mainwindow/MainCommands.h"
#include "mainwindow/MainInit.h"
#include "mainwindow/MainTemplate.h"
#include "phone/ControlIds.h"
#include "platform/KeychainStore.h"
#include "res/Resources.h"
#include "skin/BitmapSlider.h"
#include "skin/Fonts.h"
#include "skin/KestuEdit.h"
#include "skin/KestuProgressBar.h"
#include "skin/SliderMessage.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QTimer>
#include <QUrl>
#include <QWindow>

namespace {

QFont MakeFont(const FontSpec& font) {
    return LogicalFont(QString::fromLatin1(font.face), font.height, font.width);
}

bool IsEnter(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

CKestuSoftPhoneDlg::CKestuSoftPhoneDlg(MainWindowServices services, QWidget* parent)
    : SkinnedDialog(parent, Qt::Window, 355, 648, 401), services_(std::move(services)),
      ownBox_(services_.box ? nullptr : std::make_unique<QtMessageBox>(this)),
      ownSound_(services_.sound ? nullptr : std::make_unique<EngineSoundPlayer>(services_.soundDir)),
      ownWorker_(services_.worker ? nullptr : std::make_unique<ThreadWorker>([https = services_.https] {
          https->cancel();
      })),
      history_(services_.historyDir),
      phoneBook_(services_.historyDir + QLatin1Char('/') + PhoneBookFileName()),
      phone_(*this, services_.box ? *services_.box : *ownBox_,
             services_.sound ? *services_.sound : *ownSound_, *services_.clock, *services_.https,
             services_.worker ? *services_.worker : *ownWorker_, history_, services_.config),
      ownSecrets_(services_.secrets ? nullptr : std::make_unique<KeychainStore>()),
      savedPassword_(services_.secrets ? *services_.secrets : *ownSecrets_) {
    if (auto* engineSound = dynamic_cast<EngineSoundPlayer*>(ownSound_.get()))
        engineSound->setClientSlot(&phone_.st.client);
    setObjectName(QStringLiteral("mainWindow"));
    createControls(MainTemplate());
    // However the text arrives (typed, pasted, set), the number field holds no more than a call
    // can take.
    controlAs<QLineEdit>(ctl::NumberField)->setMaxLength(kMaxCallTextLength);
    // Tab follows the face of the phone, top to bottom; the account fields that lie beyond the
    // skin come last.
    setTabOrder({ctl::NumberField,
                 ctl::Account,
                 ctl::Redial,
                 ctl::Clear1,
                 ctl::Back,
                 ctl::Pickup,
                 ctl::Hangup,
                 ctl::One,
                 ctl::Two,
                 ctl::Three,
                 ctl::Four,
                 ctl::Five,
                 ctl::Six,
                 ctl::Seven,
                 ctl::Eight,
                 ctl::Nine,
                 ctl::Star,
                 ctl::Zero,
                 ctl::Pound,
                 ctl::Rate,
                 ctl::Phone,
                 ctl::Feedback,
                 ctl::Audio,
                 ctl::CallHistory,
                 ctl::MicSlider,
                 ctl::SpeakerSlider,
                 ctl::WebLink,
                 ctl::HelpLink,
                 ctl::Minimize,
                 ctl::Cross,
                 ctl::UserNameField,
                 ctl::PasswordField,
                 ctl::ServerField,
                 ctl::AccNumberField,
                 ctl::AccPasswordField});
    qApp->installEventFilter(this);
}

CKestuSoftPhoneDlg::~CKestuSoftPhoneDlg() {
    qApp->removeEventFilter(this);
    for (QTimer* t : std::as_const(timers_))
        t->stop();
    delete login_;
    login_ = nullptr;
}

void CKestuSoftPhoneDlg::onCommand(int id) {
    OnMainCommand(phone_, id);
}

void CKestuSoftPhoneDlg::onFieldFocus(int id) {
    OnFieldFocus(phone_, id);
}

void CKestuSoftPhoneDlg::openLink(const CallLink& link) {
    if (isMinimized()) {
        restore();
        phone_.st.minimized = 0;
    }
    raise();
    activateWindow();
    QueueCallLink(phone_, link);
}

void CKestuSoftPhoneDlg::endSession() {
    // Modal windows first (login, phone book, call history, message boxes), or the run could
    // not end while one of them waits for the user.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(w);
        if (!dialog || dialog == this || !dialog->isVisible())
            continue;
        if (auto* skinned = qobject_cast<SkinnedDialog*>(dialog))
            skinned->sessionEnds(); // the phone book keeps its changes
        else
            dialog->reject();
    }
    OnCloseCommand(phone_);
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
    // A login moments ago may still be moving its password into the keyring.
    savedPassword_.finishPending(2000);
    return result;
}

bool CKestuSoftPhoneDlg::timerRunning(int id) const {
    const QTimer* t = timers_.value(id);
    return t && t->isActive();
}

// ---- IMainView

QString CKestuSoftPhoneDlg::text(int id) const {
    return controlText(id);
}

void CKestuSoftPhoneDlg::setText(int id, const QString& text) {
    setControlText(id, text);
}

void CKestuSoftPhoneDlg::enable(int id, bool on) {
    if (QWidget* w = control(id))
        w->setEnabled(on);
}

bool CKestuSoftPhoneDlg::isEnabled(int id) const {
    const QWidget* w = control(id);
    return w && w->isEnabled();
}

void CKestuSoftPhoneDlg::showControl(int id) {
    if (QWidget* w = control(id))
        w->show();
}

void CKestuSoftPhoneDlg::focus(int id) {
    QWidget* w = control(id);
    if (!w)
        return;
    w->setFocus(Qt::OtherFocusReason);
    // The platform reports the focus at once; Qt only when the window is active.
    OnFieldFocus(phone_, id);
}

void CKestuSoftPhoneDlg::caretToEnd(int id) {
    if (auto* e = controlAs<QLineEdit>(id))
        e->end(false);
}

int CKestuSoftPhoneDlg::selectionStart(int id) const {
    const auto* e = controlAs<QLineEdit>(id);
    if (!e)
        return 0;
    return e->hasSelectedText() ? static_cast<int>(e->selectionStart()) : e->cursorPosition();
}

void CKestuSoftPhoneDlg::setCaret(int id, int pos) {
    if (auto* e = controlAs<QLineEdit>(id)) {
        e->deselect();
        e->setCursorPosition(pos);
    }
}

void CKestuSoftPhoneDlg::hideCaret(int id) {
    if (auto* e = controlAs<CKestuEdit>(id))
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
    if (auto* bar = controlAs<CKestuProgressBar>(id))
        bar->setRange(min, max);
}

void CKestuSoftPhoneDlg::setLevel(int id, int pos) {
    if (auto* bar = controlAs<CKestuProgressBar>(id))
        bar->setValue(pos);
}

void CKestuSoftPhoneDlg::setSliderPosition(int id, int pos) {
    if (auto* s = controlAs<CBitmapSlider>(id))
        s->SetPosition(pos);
}

void CKestuSoftPhoneDlg::endDialog(int result) {
    if (running_)
        done(result);
    else
        pendingResult_ = result;
}

void CKestuSoftPhoneDlg::openUrl(const QString& url) {
    if (services_.openUrl)
        services_.openUrl(url);
    else
        QDesktopServices::openUrl(QUrl(url));
}

QString CKestuSoftPhoneDlg::runPhoneBook() {
    CPhoneBook book(phoneBook_, phone_.box, this);
    return book.exec() == QDialog::Accepted ? book.chosenNumber() : QString();
}

QString CKestuSoftPhoneDlg::runCallLog() {
    CCallLog log(phone_, this);
    return log.exec() == QDialog::Accepted ? log.chosenNumber() : QString();
}

int CKestuSoftPhoneDlg::runAccountLogin() {
    CLogin login(*this, phone_.box, savedPassword_, phone_.config.sipServer, this);
    login_ = &login;
    const int result = login.exec();
    login_ = nullptr;
    return result == QDialog::Accepted ? 1 : 2;
}

// ---- IMainInitView

void CKestuSoftPhoneDlg::setupTooltips() {
    applyTooltips();
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
    SkinnedDialog::loadButtonImages(order);
}

void CKestuSoftPhoneDlg::setNumberFieldColours() {
    auto* e = controlAs<CKestuEdit>(ctl::NumberField);
    e->SetBackColor(QColor(244, 244, 244));
    e->SetTextColor(Qt::black);
    e->update();
}

void CKestuSoftPhoneDlg::setNumberFieldFont() {
    control(ctl::NumberField)->setFont(MakeFont(FindControl(ctl::NumberField)->font));
}

void CKestuSoftPhoneDlg::setupSliders() {
    const struct { int id, thumb; } sliders[] = {{ctl::MicSlider, 320}, {ctl::SpeakerSlider, 319}};
    for (const auto& s : sliders) {
        auto* slider = controlAs<CBitmapSlider>(s.id);
        slider->ShowFocusRect(false);
        slider->SetThumbImage(s.thumb);
        slider->SetChannelImage(s.id);
        slider->SetRange(0, 65535);
        slider->update();
    }
}

void CKestuSoftPhoneDlg::createLoginWindow() {
    delete login_;
    login_ = new CLogin(*this, phone_.box, savedPassword_, phone_.config.sipServer, this);
}

void CKestuSoftPhoneDlg::setLabelFonts() {
    applyLabelFonts();
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
        const int wasRegistered = phone_.st.registered;
        DispatchEngineEvent(phone_, m->eventType(), m->takeEvent());
        // The server has accepted the login: the saved password may now leave the file.
        if (!wasRegistered && phone_.st.registered == 1)
            savedPassword_.onRegistered(text(ctl::UserNameField), text(ctl::PasswordField));
        return true;
    }
    if (SliderMessage::isSliderMessage(e)) {
        auto* m = static_cast<SliderMessage*>(e);
        if (auto* s = controlAs<CBitmapSlider>(m->wParam()))
            OnVolumeSlider(phone_, m->wParam(), m->lParam(), s->IsVertical(), s->GetRangeMax());
        return true;
    }
    return SkinnedDialog::event(e);
}

bool CKestuSoftPhoneDlg::eventFilter(QObject* watched, QEvent* e) {
    // The keyboard rules see every key press of this window exactly once, when it reaches the
    // control it was meant for. A press enters at the window's platform window; from there it
    // goes to the focused control and, when that control ignores it, on to its parents as the
    // same event, which must not count again, even after a message box ran a nested event loop
    // in between.
    if (e->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(e);
        if (watched == windowHandle()) {
            pendingKey_ = key;
        } else if (key == pendingKey_ && watched->isWidgetType() &&
                   static_cast<QWidget*>(watched)->window() == this) {
            pendingKey_ = nullptr;
            const bool enter = IsEnter(key->key());
            if (!(enter && key->isAutoRepeat()))
                OnKeyPress(phone_, key->text(), enter);
        }
    } else if (e->type() == QEvent::KeyRelease && watched == windowHandle()) {
        pendingKey_ = nullptr;
    } else if (e->type() == QEvent::Quit && watched == qApp) {
        // The application is asked to quit (the desktop session ends): the window, which refuses
        // to close otherwise, logs off and ends its run, and with it the program.
        endSession();
        return true;
    }
    return SkinnedDialog::eventFilter(watched, e);
}

void CKestuSoftPhoneDlg::keyPressEvent(QKeyEvent* e) {
    // Enter and Escape never close the window.
    if (IsEnter(e->key()) || e->key() == Qt::Key_Escape) {
        e->accept();
        return;
    }
    SkinnedDialog::keyPressEvent(e);
}

void CKestuSoftPhoneDlg::closeEvent(QCloseEvent* e) {
    // The window ends only through its close button (or a cancelled start-up login).
    e->ignore();
}

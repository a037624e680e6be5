// The main window: a frameless window cut to its skin, carrying the status display, the number
// field, the dial pad and the call buttons. It only builds its controls and routes their
// commands, its keys, its timers and the engine's events to the phone's logic.
#pragma once

#include "engine/RtcApp.h"
#include "history/CallRecords.h"
#include "history/PhoneBook.h"
#include "history/SavedPassword.h"
#include "mainwindow/MainInit.h"
#include "phone/Phone.h"
#include "skin/SkinnedDialog.h"

#include <QMap>

#include <functional>
#include <memory>

class CLogin;
struct CallLink;
class QKeyEvent;
class QTimer;

struct MainWindowServices {
    ClientFactory engineFactory;
    IHttpsClient* https = nullptr; // required
    IClock* clock = nullptr;       // required
    IMessageBox* box = nullptr;    // none: real message boxes owned by the window
    ISoundPlayer* sound = nullptr; // none: the engine plays the sounds from soundDir
    IWorker* worker = nullptr;     // none: a thread of the window's own
    // Where the saved password goes; none: the desktop's keyring.
    ISecretStore* secrets = nullptr;
    QString soundDir;
    QString historyDir;
    AppConfig config;
    // Opens a web address or document; none: the desktop's handler.
    std::function<void(const QString&)> openUrl;
};

class CKestuSoftPhoneDlg : public SkinnedDialog, public IMainInitView {
    Q_OBJECT
public:
    explicit CKestuSoftPhoneDlg(MainWindowServices services, QWidget* parent = nullptr);
    ~CKestuSoftPhoneDlg() override;

    // Initialises the window and runs it modally; returns its result (2 when the start-up login
    // window was cancelled, then the window is never shown).
    int DoModal();

    Phone& phone() { return phone_; }
    // A link's call: placed once the phone is logged in and free; the window comes forward.
    void openLink(const CallLink& link);
    // The desktop session (or the system) is ending the program: any call is ended, the account
    // logged off, every window closed and the run ended, as by the close button.
    void endSession();
    // The login window while the start-up or account login runs.
    CLogin* loginWindow() const { return login_; }
    int flashCount() const { return flashes_; }
    bool timerRunning(int id) const;

    // IMainView
    QString text(int id) const override;
    void setText(int id, const QString& text) override;
    void enable(int id, bool on) override;
    bool isEnabled(int id) const override;
    void showControl(int id) override;
    void focus(int id) override;
    void caretToEnd(int id) override;
    int selectionStart(int id) const override;
    void setCaret(int id, int pos) override;
    void hideCaret(int id) override;
    void startTimer(int id, int ms) override;
    void stopTimer(int id) override;
    void flash() override;
    void restore() override;
    void minimize() override;
    void setLevelRange(int id, int min, int max) override;
    void setLevel(int id, int pos) override;
    void setSliderPosition(int id, int pos) override;
    void endDialog(int result) override;
    void openUrl(const QString& url) override;
    QString runPhoneBook() override;
    QString runCallLog() override;
    int runAccountLogin() override;

    // IMainInitView
    void setupTooltips() override;
    void addAboutMenuEntry() override;
    void setIcons() override;
    void loadButtonImages(const QList<int>& order) override;
    void setNumberFieldColours() override;
    void setNumberFieldFont() override;
    void setupSliders() override;
    void createLoginWindow() override;
    void setLabelFonts() override;
    int runLoginWindow() override;
    void destroyLoginWindow() override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void onCommand(int id) override;
    void onFieldFocus(int id) override;

private:
    void showAbout();

    MainWindowServices services_;
    std::unique_ptr<IMessageBox> ownBox_;
    std::unique_ptr<ISoundPlayer> ownSound_;
    // Declared before the phone, so that it ends after it: a job in flight uses the phone's
    // services.
    std::unique_ptr<IWorker> ownWorker_;
    CallHistory history_;
    // Kept between openings of the phone book: entries it could not save wait for the next save.
    PhoneBook phoneBook_;
    Phone phone_;
    std::unique_ptr<ISecretStore> ownSecrets_;
    SavedPassword savedPassword_;
    QMap<int, QTimer*> timers_;
    CLogin* login_ = nullptr;
    int flashes_ = 0;
    // The key press seen at the window's door, not yet handed to the keyboard rules.
    const QKeyEvent* pendingKey_ = nullptr;
    bool running_ = false;
    int pendingResult_ = 0;
};

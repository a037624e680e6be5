// Recording stand-ins for the window, message boxes, sounds, clock and HTTPS, and a phone wired
// to them, so the logic runs in unit tests without a window, a network or a sound card.
#pragma once

#include "engine/RtcApp.h"
#include "fakes/FakeEngine.h"
#include "history/CallRecords.h"
#include "mainwindow/MainInit.h"
#include "phone/Phone.h"

#include <QMap>
#include <QSet>
#include <QTemporaryDir>

#include <functional>
#include <ostream>

// Readable test failures for Qt strings.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}

namespace fake {

struct Box {
    QString text;
    QString title;
    BoxIcon icon;
};

class MessageBoxes : public IMessageBox {
public:
    void show(const QString& text, const QString& title, BoxIcon icon) override {
        shown.push_back({text, title, icon});
        if (onShow)
            onShow(text);
    }
    QStringList texts() const {
        QStringList t;
        for (const Box& b : shown)
            t << b.text;
        return t;
    }
    QList<Box> shown;
    std::function<void(const QString&)> onShow;
};

class Sounds : public ISoundPlayer {
public:
    void play(const QString& fileName) override { played << fileName; }
    QStringList played;
};

class Clock : public IClock {
public:
    QDateTime now() const override { return current; }
    void sleepMs(int ms) override {
        sleeps << ms;
        current = current.addMSecs(ms);
    }
    QDateTime current = QDateTime(QDate(2026, 12, 8), QTime(9, 5, 7));
    QList<int> sleeps;
};

class Https : public IHttpsClient {
public:
    HttpsResponse get(const QString& url, int maxBytes) override {
        urls << url;
        lastMaxBytes = maxBytes;
        return response;
    }
    HttpsResponse response{HttpsResponse::Outcome::Ok, 200, "<cradit>12.50</cradit><currency>EUR</currency>",
                           QString()};
    QStringList urls;
    int lastMaxBytes = 0;
};

// The main window as the logic sees it: texts, enabled states, focus, caret, timers, and a log
// of the operations in their order.
class View : public IMainInitView {
public:
    QString text(int id) const override { return texts.value(id); }
    void setText(int id, const QString& t) override {
        texts[id] = t;
        carets[id] = static_cast<int>(t.size());
        log << QStringLiteral("setText(%1,%2)").arg(id).arg(t);
    }
    void enable(int id, bool on) override {
        if (on)
            disabled.remove(id);
        else
            disabled.insert(id);
    }
    bool isEnabled(int id) const override { return !disabled.contains(id); }
    void showControl(int id) override { shownControls.insert(id); }
    void focus(int id) override {
        focused = id;
        log << QStringLiteral("focus(%1)").arg(id);
        if (onFocus)
            onFocus(id);
    }
    void caretToEnd(int id) override { carets[id] = static_cast<int>(texts.value(id).size()); }
    int selectionStart(int id) const override { return carets.value(id, 0); }
    void setCaret(int id, int pos) override { carets[id] = pos; }
    void hideCaret(int id) override { hiddenCarets.insert(id); }
    void startTimer(int id, int ms) override {
        timers[id] = ms;
        log << QStringLiteral("startTimer(%1)").arg(id);
    }
    void stopTimer(int id) override { timers.remove(id); }
    void flash() override { ++flashes; }
    void restore() override { ++restores; }
    void minimize() override { ++minimizes; }
    void setLevelRange(int id, int min, int max) override { levelRanges[id] = {min, max}; }
    void setLevel(int id, int pos) override { levels[id] = pos; }
    void setSliderPosition(int id, int pos) override {
        sliders[id] = pos;
        log << QStringLiteral("setSliderPosition(%1,%2)").arg(id).arg(pos);
    }
    void endDialog(int result) override {
        ended = result;
        log << QStringLiteral("endDialog(%1)").arg(result);
    }
    void openUrl(const QString& url) override { opened << url; }
    QString runPhoneBook() override {
        log << QStringLiteral("runPhoneBook");
        return phoneBookChoice;
    }
    QString runCallLog() override {
        log << QStringLiteral("runCallLog");
        return callLogChoice;
    }
    int runAccountLogin() override {
        log << QStringLiteral("runAccountLogin");
        return accountLoginResult;
    }

    void setupTooltips() override { log << QStringLiteral("setupTooltips"); }
    void addAboutMenuEntry() override { log << QStringLiteral("addAboutMenuEntry"); }
    void setIcons() override { log << QStringLiteral("setIcons"); }
    void loadButtonImages(const QList<int>& order) override {
        buttonOrder = order;
        log << QStringLiteral("loadButtonImages");
    }
    void setNumberFieldColours() override { log << QStringLiteral("setNumberFieldColours"); }
    void setNumberFieldFont() override { log << QStringLiteral("setNumberFieldFont"); }
    void setupSliders() override { log << QStringLiteral("setupSliders"); }
    void createLoginWindow() override { log << QStringLiteral("createLoginWindow"); }
    void setLabelFonts() override { log << QStringLiteral("setLabelFonts"); }
    int runLoginWindow() override {
        log << QStringLiteral("runLoginWindow");
        return onLoginWindow ? onLoginWindow() : loginResult;
    }
    void destroyLoginWindow() override { log << QStringLiteral("destroyLoginWindow"); }

    QMap<int, QString> texts;
    QSet<int> disabled;
    QSet<int> shownControls;
    QSet<int> hiddenCarets;
    QMap<int, int> carets;
    QMap<int, int> timers;
    QMap<int, QPair<int, int>> levelRanges;
    QMap<int, int> levels;
    QMap<int, int> sliders;
    QList<int> buttonOrder;
    QStringList log;
    int focused = 0;
    int flashes = 0;
    int restores = 0;
    int minimizes = 0;
    int ended = 0;
    int loginResult = 2;
    QStringList opened;
    QString phoneBookChoice;
    QString callLogChoice;
    int accountLoginResult = 2;
    std::function<int()> onLoginWindow;
    std::function<void(int)> onFocus;
};

// A phone over the fakes, with its history files in a folder of its own.
struct TestPhone {
    TestPhone();
    ~TestPhone();
    // Starts the phone's engine with a fresh fake client (kept in `client`); returns the result.
    rtc::HRESULT startEngine(QObject* target = nullptr);
    // Starts the engine and marks the account registered, with `server` as its server address.
    void registerAccount(const QString& server = QStringLiteral("sip.example.net"));
    // Delivers an event the way the window does: dispatch, released last.
    void deliver(rtc::RTC_EVENT type, rtc::IUnknown* event);
    void deliverSession(rtc::RTC_SESSION_STATE state, rtc::IRTCSession* session);
    QStringList history(CallKind kind) const;

    QTemporaryDir dir;
    View view;
    MessageBoxes box;
    Sounds sound;
    Clock clock;
    Https https;
    InlineWorker worker;
    CallHistory historyFiles;
    Phone phone;
    rtc::ComPtr<FakeClient> client;
};

} // namespace fake

// The call history window: the dialled, received and missed calls on three pages behind three
// tab labels, over its own skin. Rows can be removed (written back by the close command) or
// double-clicked to call their number again.
#pragma once

#include "history/CallLogLists.h"
#include "skin/SkinnedDialog.h"

struct Phone;

namespace logctl {
constexpr int Skin = 332;
constexpr int Dialled = 1066;
constexpr int Received = 1099;
constexpr int Missed = 1103;
constexpr int DialledTab = 1102;
constexpr int ReceivedTab = 1101;
constexpr int MissedTab = 1104;
constexpr int Clear = 1014;
constexpr int Close = 1073;
} // namespace logctl

class CCallLog : public SkinnedDialog {
    Q_OBJECT
public:
    // The main window's phone: its call marks choose the first page, its history files are read
    // and written, its flash timer is stopped by the close command.
    explicit CCallLog(Phone& phone, QWidget* parent = nullptr);

    // The number to call once the window has ended with OK; empty for none.
    const QString& chosenNumber() const { return chosen_; }
    // "recevied", "dialled" or "missed"; empty until the window is shown.
    const QString& pageWord() const { return pageWord_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void onCommand(int id) override;
    void onListDoubleClicked(int id) override;

private:
    void showPage(CallLogPage page);
    void showRows(CallKind kind);
    bool save(const QList<CallKind>& kinds);

    Phone& phone_;
    CallLogLists lists_;
    CallLogPage page_ = CallLogPage::Dialled;
    QString pageWord_;
    QString chosen_;
    bool opened_ = false;
};

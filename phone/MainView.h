// The narrow face of the main window that the phone's logic drives: control texts, enabling,
// focus and caret, timers, flashing. The dialog implements it over its widgets; tests implement
// it with a recording fake, so the logic runs without a window.
#pragma once

#include <QList>
#include <QString>

class IMainView {
public:
    virtual ~IMainView() = default;

    virtual QString text(int id) const = 0;
    virtual void setText(int id, const QString& text) = 0;
    virtual void enable(int id, bool on) = 0;
    virtual bool isEnabled(int id) const = 0;
    virtual void showControl(int id) = 0;
    // Moves the keyboard focus to the control; for an edit field this runs the field's focus
    // notification (OnFieldFocus) at once, as the platform would.
    virtual void focus(int id) = 0;
    // An empty selection after the last character, scrolled into view.
    virtual void caretToEnd(int id) = 0;
    virtual int selectionStart(int id) const = 0;
    virtual void setCaret(int id, int pos) = 0;
    // The number field shows no blinking caret.
    virtual void hideCaret(int id) = 0;

    // Window timers by identifier; starting a running one restarts it with the new period.
    virtual void startTimer(int id, int ms) = 0;
    virtual void stopTimer(int id) = 0;
    virtual void flash() = 0;   // one flash of the window
    virtual void restore() = 0; // from minimised to normal size
    virtual void minimize() = 0;

    virtual void setLevelRange(int id, int min, int max) = 0;
    virtual void setLevel(int id, int pos) = 0;
    virtual void setSliderPosition(int id, int pos) = 0;

    // Ends the main window's run with a result (1 OK, 2 Cancel).
    virtual void endDialog(int result) = 0;

    // Opens a web address or document with the desktop's handler.
    virtual void openUrl(const QString& url) = 0;
    // The secondary windows, each run modally: the number chosen in the phone book or the call
    // history window when it ended with OK (empty otherwise); 1 (OK) or 2 (Cancel) for the login
    // window.
    virtual QString runPhoneBook() = 0;
    virtual QString runCallLog() = 0;
    virtual int runAccountLogin() = 0;
};

// An edit field that can carry colours of its own, hide its caret, and tell when it gets the
// focus.
#pragma once

#include <QColor>
#include <QLineEdit>

class QStyle;

class CKestuEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit CKestuEdit(QWidget* parent = nullptr);

    // The field keeps the platform's colours until it is given a background colour; from then on
    // it draws the background colour and the text colour (black unless set).
    void SetBackColor(const QColor& color);
    void SetTextColor(const QColor& color);
    bool hasBackColor() const { return hasBackColor_; }
    QColor backColor() const { return backColor_; }
    QColor textColor() const { return textColor_; }

    // A hidden caret is not drawn at all (the number field shows no blinking caret); the text
    // cursor still moves and edits as usual.
    void setCaretHidden(bool hidden);
    bool isCaretHidden() const { return caretStyle_ != nullptr; }

signals:
    // The field received the keyboard focus.
    void focusReceived();

protected:
    void focusInEvent(QFocusEvent* event) override;

private:
    void applyColours();

    QColor textColor_ = Qt::black;
    QColor backColor_;
    bool hasBackColor_ = false;
    QPalette defaultPalette_;
    QStyle* caretStyle_ = nullptr;
};

#include "skin/KestuEdit.h"

#include <QProxyStyle>

namespace {
// The line edit draws its caret as wide as this metric says; zero draws none.
class NoCaretStyle : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
        if (metric == PM_TextCursorWidth)
            return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};
} // namespace

CKestuEdit::CKestuEdit(QWidget* parent) : QLineEdit(parent), defaultPalette_(palette()) {}

void CKestuEdit::SetBackColor(const QColor& color) {
    backColor_ = color;
    hasBackColor_ = true;
    applyColours();
}

void CKestuEdit::SetTextColor(const QColor& color) {
    textColor_ = color;
    applyColours();
}

void CKestuEdit::applyColours() {
    QPalette pal = defaultPalette_;
    if (hasBackColor_) {
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            pal.setBrush(group, QPalette::Base, QBrush(backColor_));
            pal.setColor(group, QPalette::Text, textColor_);
        }
    }
    setPalette(pal);
    update();
}

void CKestuEdit::setCaretHidden(bool hidden) {
    if (hidden == isCaretHidden())
        return;
    QStyle* old = caretStyle_;
    if (hidden) {
        caretStyle_ = new NoCaretStyle;
        caretStyle_->setParent(this);
        setStyle(caretStyle_);
    } else {
        caretStyle_ = nullptr;
        setStyle(nullptr); // back to the application's style
    }
    delete old;
    update();
}

void CKestuEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    emit focusReceived();
}

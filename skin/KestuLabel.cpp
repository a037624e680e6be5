#include "skin/KestuLabel.h"

#include "skin/FocusFrame.h"

#include <QKeyEvent>
#include <QMouseEvent>

CKestuLabel::CKestuLabel(QWidget* parent) : CKestuLabel(QString(), parent) {}

CKestuLabel::CKestuLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // Texts come from the network too (the caller, the balance answer): never read as markup.
    setTextFormat(Qt::PlainText);
    // Nothing of the label's own is painted under the text; the text is black unless the window
    // chooses another colour.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_NoSystemBackground);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    setPalette(pal);
}

void CKestuLabel::setText(const QString& text) {
    QLabel::setText(text);
    if (QWidget* parent = parentWidget(); parent && isVisible())
        parent->repaint(geometry());
}

void CKestuLabel::mousePressEvent(QMouseEvent* event) {
    if (!clickable_ || event->button() != Qt::LeftButton) {
        QLabel::mousePressEvent(event);
        return;
    }
    // Like a notifying static control, the click is reported on the press.
    event->accept();
    emit clicked();
}

void CKestuLabel::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!clickable_) {
        QLabel::mouseDoubleClickEvent(event);
        return;
    }
    // The second press of a double-click: the first one already reported the click. (QWidget's
    // own handler would take it for another press.)
    event->accept();
}

void CKestuLabel::keyPressEvent(QKeyEvent* event) {
    if (clickable_ && event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        event->accept();
        emit clicked();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CKestuLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (hasFocus())
        DrawFocusFrame(this);
}

void CKestuLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (!clickable_) {
        QLabel::mouseReleaseEvent(event);
        return;
    }
    event->accept();
}

#include "skin/FocusFrame.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QWidget>

void DrawFocusFrame(QWidget* widget) {
    QPainter p(widget);
    QStyleOptionFocusRect option;
    option.initFrom(widget);
    option.rect = widget->rect().adjusted(1, 1, -1, -1);
    widget->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, widget);
}

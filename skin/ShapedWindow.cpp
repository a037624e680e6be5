#include "skin/ShapedWindow.h"

#include "res/Resources.h"
#include "skin/SkinRegion.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QWidget>
#include <QWindow>

ShapedWindow::ShapedWindow(QWidget* window, int skinBitmapId)
    : ShapedWindow(window, [skinBitmapId] { return res::bitmap(skinBitmapId); }) {}

ShapedWindow::ShapedWindow(QWidget* window, SkinLoader loader)
    : QObject(window), window_(window), loader_(std::move(loader)) {
    window_->installEventFilter(this);
}

void ShapedWindow::applyShape() {
    if (!shaped_) {
        buildShape();
        return;
    }
    if (!skin_.isNull())
        window_->setMask(shape_);
}

void ShapedWindow::buildShape() {
    skin_ = loader_();
    skinSize_ = skin_.size();
    shape_ = RegionFromRowRects(BuildSkinRegion(skin_));
    // Qt reads an empty mask as "no mask"; a skin made only of the key colour still cuts the
    // whole window away, so it gets a mask that lies entirely outside the window.
    if (shape_.isEmpty() && !skin_.isNull())
        shape_ = QRegion(skinSize_.width(), skinSize_.height(), 1, 1);
    // Marked before the window is resized below: that resize comes back here and must only
    // re-apply the outline.
    shaped_ = true;
    if (skin_.isNull())
        return; // nothing to take the shape from: the window keeps its own size and place
    window_->setMask(shape_);

    QRect screen(0, 0, 0, 0);
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        screen = primary->geometry();
    const QPoint at = screen.topLeft() +
                      CentredPosition(screen.width(), screen.height(), skinSize_.width(), skinSize_.height());
    window_->setGeometry(QRect(at, skinSize_));
}

bool ShapedWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
        applyShape();
        break;
    case QEvent::MouseButtonPress: {
        // Presses that reach the window itself are presses on the skin: controls that want the
        // mouse keep their presses, plain labels pass them on.
        auto* me = static_cast<QMouseEvent*>(event);
        if (me->button() != Qt::LeftButton)
            break;
        QWindow* handle = window_->windowHandle();
        if (handle && handle->startSystemMove())
            break;
        manualDrag_ = true;
        dragStartGlobal_ = me->globalPosition().toPoint();
        dragStartWindow_ = window_->pos();
        break;
    }
    case QEvent::MouseMove: {
        auto* me = static_cast<QMouseEvent*>(event);
        if (manualDrag_ && (me->buttons() & Qt::LeftButton))
            window_->move(dragStartWindow_ + (me->globalPosition().toPoint() - dragStartGlobal_));
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            manualDrag_ = false;
        break;
    default:
        break;
    }
    return false;
}

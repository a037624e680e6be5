#include "skin/MemDC.h"

#include <QPaintDevice>

namespace {
QRect clipBox(const QPainter* p) {
    const QRect whole = p->window();
    return p->hasClipping() ? p->clipBoundingRect().toAlignedRect() & whole : whole;
}

bool recordsDrawing(const QPainter* p) {
    const int type = p->device() ? p->device()->devType() : QInternal::UnknownDevice;
    return type == QInternal::Printer || type == QInternal::Picture;
}
} // namespace

CMemDC::CMemDC(QPainter* target, const QRect& rect, bool copyBackground)
    : target_(target), rect_(rect.isNull() ? clipBox(target) : rect), memoryMode_(!recordsDrawing(target)) {
    if (!memoryMode_) {
        // Straight onto the target; its own pixels are already beneath whatever is drawn.
        if (!copyBackground)
            target_->fillRect(rect_, target_->background().color());
        return;
    }
    const qreal dpr = target_->device()->devicePixelRatio();
    // An empty rectangle still gets a surface, so that drawing into it is harmless; it is never
    // copied out.
    image_ = QImage((rect_.size() * dpr).expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image_.setDevicePixelRatio(dpr);
    // Copying the background means keeping what the target shows: a transparent start that is
    // composed over the target at the end leaves exactly those pixels wherever nothing is drawn.
    image_.fill(copyBackground ? QColor(Qt::transparent) : target_->background().color());
    offscreen_.begin(&image_);
    offscreen_.translate(-rect_.topLeft());
    offscreen_.setFont(target_->font());
    offscreen_.setPen(target_->pen());
    offscreen_.setBrush(target_->brush());
    offscreen_.setBackground(target_->background());
    offscreen_.setLayoutDirection(target_->layoutDirection());
}

CMemDC::~CMemDC() {
    if (!memoryMode_)
        return;
    offscreen_.end();
    if (!rect_.isEmpty())
        target_->drawImage(rect_.topLeft(), image_);
}

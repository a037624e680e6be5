#include "skin/BitmapButton.h"

#include "res/Resources.h"
#include "skin/FocusFrame.h"
#include "skin/KeyedImage.h"

#include <QPainter>

CBitmapButton::CBitmapButton(QWidget* parent) : QAbstractButton(parent) {}

bool CBitmapButton::AutoLoad(const QString& caption) {
    caption_ = caption;
    setObjectName(caption);
    return LoadImages(res::namedBitmap(caption + QLatin1Char('U')),
                      res::namedBitmap(caption + QLatin1Char('D')));
}

bool CBitmapButton::LoadImages(const QImage& up, const QImage& down) {
    up_ = QPixmap::fromImage(KeyedImage(up));
    hasDown_ = !down.isNull();
    down_ = hasDown_ ? QPixmap::fromImage(KeyedImage(down)) : up_;
    update();
    if (up.isNull())
        return false;
    resize(up.size());
    updateGeometry();
    return true;
}

QSize CBitmapButton::sizeHint() const {
    return up_.isNull() ? QAbstractButton::sizeHint() : up_.size();
}

void CBitmapButton::paintEvent(QPaintEvent*) {
    // Only the pressed state has a picture of its own; focused and disabled look like up.
    const QPixmap& picture = isDown() ? down_ : up_;
    if (picture.isNull())
        return;
    QPainter p(this);
    p.drawPixmap(0, 0, picture);
    p.end();
    if (hasFocus())
        DrawFocusFrame(this);
}

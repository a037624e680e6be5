#include "skin/BitmapSlider.h"

#include "res/Resources.h"
#include "skin/KeyedImage.h"
#include "skin/MemDC.h"
#include "skin/SliderMessage.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {
constexpr std::int64_t kIntMin = std::numeric_limits<int>::min();
constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();

int saturate(std::int64_t v) {
    return static_cast<int>(std::clamp(v, kIntMin, kIntMax));
}

// Conversion to an integer truncates toward zero; values no int can hold saturate instead of
// being undefined.
std::int64_t truncate(double v) {
    if (std::isnan(v))
        return 0;
    return static_cast<std::int64_t>(
        std::clamp(v, static_cast<double>(kIntMin), static_cast<double>(kIntMax)));
}
} // namespace

int SliderTravel(const SliderAxis& a) {
    return saturate(std::int64_t{a.length} - a.marginEnd - a.thumb - a.marginStart);
}

int SliderPositionToPixel(const SliderAxis& a, int position) {
    const double range = static_cast<double>(a.maximum) - a.minimum;
    std::int64_t offset = 0;
    if (range != 0)
        offset = truncate(((static_cast<double>(position) - a.minimum) / range) * SliderTravel(a));
    return saturate(offset + a.marginStart + a.thumb / 2);
}

int SliderPixelToPosition(const SliderAxis& a, int centre) {
    const int travel = SliderTravel(a);
    if (travel == 0)
        return a.minimum;
    const double range = static_cast<double>(a.maximum) - a.minimum;
    const double along = static_cast<double>(centre) - a.thumb / 2 - a.marginStart;
    return saturate(truncate((along / travel) * range + a.minimum));
}

int SliderClampPosition(std::int64_t value, int minimum, int maximum) {
    if (value > maximum)
        value = maximum;
    if (value < minimum)
        value = minimum;
    return static_cast<int>(value);
}

int SliderClampCentre(const SliderAxis& a, int centre, bool vertical) {
    const int low = saturate(std::int64_t{a.marginStart} + a.thumb / 2);
    const int high = saturate(std::int64_t{a.length} - a.marginEnd - a.thumb / 2);
    if (vertical) {
        centre = std::min(centre, high);
        return std::max(centre, low);
    }
    centre = std::max(centre, low);
    return std::min(centre, high);
}

int SliderGripOffset(const SliderAxis& a, int pointer, int position) {
    const std::int64_t d = std::int64_t{pointer} - SliderPositionToPixel(a, position);
    return std::abs(d) > a.thumb / 2 ? 0 : static_cast<int>(d);
}

CBitmapSlider::CBitmapSlider(QWidget* parent) : QWidget(parent) {
    // Not a tab stop: the focus comes from a click.
    setFocusPolicy(Qt::ClickFocus);
}

bool CBitmapSlider::SetChannelImage(int bitmapId) {
    return SetChannelImage(res::bitmap(bitmapId));
}
bool CBitmapSlider::SetThumbImage(int bitmapId) {
    return SetThumbImage(res::bitmap(bitmapId));
}

bool CBitmapSlider::SetChannelImage(const QImage& picture) {
    channel_ = QPixmap();
    if (picture.isNull())
        return false;
    channel_ = QPixmap::fromImage(KeyedImage(picture));
    width_ = picture.width();
    height_ = picture.height();
    resize(width_, height_);
    clientRect_ = rect();
    channelSet_ = true;
    update();
    return true;
}

bool CBitmapSlider::SetThumbImage(const QImage& picture) {
    thumb_ = QPixmap();
    if (picture.isNull())
        return false;
    thumb_ = QPixmap::fromImage(KeyedImage(picture));
    thumbWidth_ = picture.width();
    thumbHeight_ = picture.height();
    if (!channelSet_) {
        clientRect_ = rect();
        width_ = clientRect_.width();
        height_ = clientRect_.height();
    }
    thumbSet_ = true;
    update();
    return true;
}

void CBitmapSlider::SetRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = maximum;
    update();
}

void CBitmapSlider::SetPosition(int position) {
    position_ = SliderClampPosition(position, minimum_, maximum_);
    update();
}

void CBitmapSlider::SetMargin(int left, int top, int right, int bottom) {
    marginLeft_ = left;
    marginTop_ = top;
    marginRight_ = right;
    marginBottom_ = bottom;
    update();
}

void CBitmapSlider::SetVertical(bool vertical) {
    vertical_ = vertical;
    update();
}

SliderAxis CBitmapSlider::axis() const {
    if (vertical_)
        return {height_, thumbHeight_, marginTop_, marginBottom_, minimum_, maximum_};
    return {width_, thumbWidth_, marginLeft_, marginRight_, minimum_, maximum_};
}

QRect CBitmapSlider::thumbRect() const {
    const int centre = SliderPositionToPixel(axis(), position_);
    if (vertical_)
        return {marginLeft_, centre - thumbHeight_ / 2, thumbWidth_, thumbHeight_};
    return {centre - thumbWidth_ / 2, marginTop_, thumbWidth_, thumbHeight_};
}

int CBitmapSlider::along(const QPointF& p) const {
    return static_cast<int>(std::floor(vertical_ ? p.y() : p.x()));
}

void CBitmapSlider::paintEvent(QPaintEvent*) {
    if (clientRect_.isEmpty())
        return;
    // Each paint starts from the parent's picture beneath the control (the control paints no
    // background), so the old thumb never needs to be wiped out by hand.
    QPainter screen(this);
    CMemDC dc(&screen, clientRect_, true);
    QPainter& p = dc.painter();
    if (channelSet_)
        p.drawPixmap(QRect(0, 0, width_, height_), channel_);
    if (thumbSet_)
        p.drawPixmap(thumbRect().topLeft(), thumb_);
    if (showFocusRect_ && hasFocus_) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = clientRect_;
        // Styles may keep focus frames for keyboard navigation only; this one is asked for.
        option.state |= QStyle::State_KeyboardFocusChange;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &p, this);
    }
}

void CBitmapSlider::followPointer(int pointer) {
    const SliderAxis a = axis();
    const int centre = SliderClampCentre(a, pointer - gripOffset_, vertical_);
    if (centre == SliderPositionToPixel(a, position_))
        return;
    SetPosition(SliderPixelToPosition(a, centre));
    post(WM_SLIDER_TRACK);
}

void CBitmapSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    // The press holds the mouse until the release (Qt grabs it for the pressed widget).
    setFocus(Qt::MouseFocusReason);
    dragging_ = true;
    const int pointer = along(event->position());
    gripOffset_ = SliderGripOffset(axis(), pointer, position_);
    followPointer(pointer);
    update();
    event->accept();
}

void CBitmapSlider::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_)
        followPointer(along(event->position()));
    event->accept();
}

void CBitmapSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    // Any left release that reaches the control reports the position, even one whose press began
    // elsewhere.
    dragging_ = false;
    update();
    post(WM_SLIDER_SET);
    event->accept();
}

void CBitmapSlider::keyPressEvent(QKeyEvent* event) {
    std::int64_t next = 0;
    switch (event->key()) {
    case Qt::Key_PageUp:
        next = std::int64_t{position_} - page_;
        break;
    case Qt::Key_PageDown:
        next = std::int64_t{position_} + page_;
        break;
    case Qt::Key_End:
        next = maximum_;
        break;
    case Qt::Key_Home:
        next = minimum_;
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
        next = std::int64_t{position_} - 1;
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        next = std::int64_t{position_} + 1;
        break;
    default:
        // The control wants every key while it has the focus, so the dialog does not act on
        // Enter or Escape meanwhile; other keys simply do nothing here.
        event->accept();
        return;
    }
    SetPosition(saturate(next));
    post(WM_SLIDER_SET);
    event->accept();
}

void CBitmapSlider::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    hasFocus_ = true;
    update();
}

void CBitmapSlider::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    hasFocus_ = false;
    update();
}

void CBitmapSlider::post(int type) {
    if (QWidget* target = parentWidget())
        QCoreApplication::postEvent(
            target, new SliderMessage(static_cast<QEvent::Type>(type), controlId_, position_));
}

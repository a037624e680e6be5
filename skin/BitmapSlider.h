// A slider drawn from two pictures, a channel and a thumb, over whatever its parent shows. It
// tells its parent about every change by posting WM_SLIDER_TRACK while the thumb is dragged and
// WM_SLIDER_SET at the release and after every handled key (see SliderMessage.h).
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <cstdint>

// The travel axis of a slider: x for a horizontal slider, y for a vertical one. Sizes in pixels;
// the start margin is the left (top) one, the end margin the right (bottom) one.
struct SliderAxis {
    int length = 0;
    int thumb = 0;
    int marginStart = 0;
    int marginEnd = 0;
    int minimum = 0;
    int maximum = 100;
};

// Pixels over which the thumb's centre travels.
int SliderTravel(const SliderAxis& a);
// Thumb centre for a position. Fractions truncate toward zero, so the last position below the
// maximum still sits one pixel short of the end. A range of zero puts the thumb at the start.
int SliderPositionToPixel(const SliderAxis& a, int position);
// Position for a thumb centre, truncated toward zero. No travel gives the minimum.
int SliderPixelToPosition(const SliderAxis& a, int centre);
// Lowered to the maximum first, then raised to the minimum: with an inverted range the minimum
// wins.
int SliderClampPosition(std::int64_t value, int minimum, int maximum);
// Keeps a dragged thumb centre on the channel (the vertical order of the two limits differs,
// which only shows when the thumb does not fit).
int SliderClampCentre(const SliderAxis& a, int centre, bool vertical);
// How far from the thumb's centre the pointer holds it: a press on the thumb keeps its place
// under the pointer, a press beside it makes the centre jump to the pointer.
int SliderGripOffset(const SliderAxis& a, int pointer, int position);

class CBitmapSlider : public QWidget {
    Q_OBJECT
public:
    explicit CBitmapSlider(QWidget* parent = nullptr);

    // The identifier carried by the notifications (wParam).
    void setControlId(int id) { controlId_ = id; }
    int controlId() const { return controlId_; }

    // Built-in bitmaps (res::bitmap) or pictures. The channel sizes the control to itself; a thumb
    // set before any channel makes the control's current size the drawing size. A picture that
    // cannot be had removes the old one and returns false.
    bool SetChannelImage(int bitmapId);
    bool SetChannelImage(const QImage& picture);
    bool SetThumbImage(int bitmapId);
    bool SetThumbImage(const QImage& picture);

    // Stores the bounds only; a position outside them stays until the next change.
    void SetRange(int minimum, int maximum);
    void SetPosition(int position);
    int GetPos() const { return position_; }
    int GetRangeMin() const { return minimum_; }
    int GetRangeMax() const { return maximum_; }
    void SetPageSize(int page) { page_ = page; }
    int GetPageSize() const { return page_; }
    void SetMargin(int left, int top, int right, int bottom);
    void SetVertical(bool vertical);
    bool IsVertical() const { return vertical_; }
    void ShowFocusRect(bool show) { showFocusRect_ = show; }

    // The drawing size (the channel's size) and the thumb's size.
    QSize drawingSize() const { return {width_, height_}; }
    QSize thumbSize() const { return {thumbWidth_, thumbHeight_}; }
    bool isDragging() const { return dragging_; }
    // The travel axis as the arithmetic sees it, for the current state.
    SliderAxis axis() const;
    // Where the thumb is drawn.
    QRect thumbRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    int along(const QPointF& p) const;
    void followPointer(int pointer);
    void post(int type);

    bool vertical_ = false;
    int maximum_ = 100;
    int minimum_ = 0;
    int position_ = 0;
    int page_ = 20;
    QRect clientRect_;
    int width_ = 0;
    int height_ = 0;
    int thumbWidth_ = 0;
    int thumbHeight_ = 0;
    int marginLeft_ = 0;
    int marginRight_ = 0;
    int marginTop_ = 0;
    int marginBottom_ = 0;
    int gripOffset_ = 0;
    bool thumbSet_ = false;
    bool channelSet_ = false;
    bool dragging_ = false;
    bool hasFocus_ = false;
    bool showFocusRect_ = true;
    // Key-coloured pixels already made transparent, once per load.
    QPixmap channel_;
    QPixmap thumb_;
    int controlId_ = 0;
};

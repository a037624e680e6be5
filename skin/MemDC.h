// An off-screen surface for one paint: everything drawn through it is composed in memory and
// reaches the target in a single copy when the CMemDC goes away, so a control never shows a
// half-drawn picture.
#pragma once

#include <QImage>
#include <QPainter>
#include <QRect>

class CMemDC {
public:
    // `target` must be active and outlive the CMemDC; it is borrowed, never ended. `rect` is in
    // the target's logical coordinates; a null rect means the target's clip box (its whole window
    // when it does not clip). With `copyBackground` the picture starts as what the target already
    // shows there; without it, filled with the target's background colour.
    explicit CMemDC(QPainter* target, const QRect& rect = QRect(), bool copyBackground = false);
    ~CMemDC();

    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    // Where to draw, in the target's logical coordinates.
    QPainter& painter() { return memoryMode_ ? offscreen_ : *target_; }
    QPainter* operator->() { return &painter(); }

    const QRect& rect() const { return rect_; }
    // False for targets that record drawing rather than hold pixels (printers, pictures): a
    // bitmap would lose their resolution, so drawing goes straight to them.
    bool isMemoryMode() const { return memoryMode_; }

private:
    QPainter* target_;
    QRect rect_;
    bool memoryMode_;
    QImage image_;
    QPainter offscreen_;
};

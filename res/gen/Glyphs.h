// Small vector pictograms drawn into a box, in one colour, with anti-aliasing.
#pragma once

#include <QColor>
#include <QPainter>
#include <QRectF>

namespace gen::glyph {

// A telephone handset; `lifted` tilts it as in a call being picked up, otherwise it lies
// flat as when hung up.
void handset(QPainter& p, const QRectF& box, QColor c, bool lifted);
void person(QPainter& p, const QRectF& box, QColor c);
void redial(QPainter& p, const QRectF& box, QColor c);
void backspace(QPainter& p, const QRectF& box, QColor c);
void power(QPainter& p, const QRectF& box, QColor c);
void speaker(QPainter& p, const QRectF& box, QColor c);
void microphone(QPainter& p, const QRectF& box, QColor c);
void book(QPainter& p, const QRectF& box, QColor c);
void clock(QPainter& p, const QRectF& box, QColor c);
void tag(QPainter& p, const QRectF& box, QColor c);
void headset(QPainter& p, const QRectF& box, QColor c);
void list(QPainter& p, const QRectF& box, QColor c);
void signal(QPainter& p, const QRectF& box, QColor c, QColor dim, int lit);
void cross(QPainter& p, const QRectF& box, QColor c, qreal width);
void minus(QPainter& p, const QRectF& box, QColor c, qreal width);
void plus(QPainter& p, const QRectF& box, QColor c, qreal width);
void pencil(QPainter& p, const QRectF& box, QColor c);
void bin(QPainter& p, const QRectF& box, QColor c);
// The product's mark: a ring around sound waves.
void logo(QPainter& p, const QRectF& box, QColor ring, QColor waves);

} // namespace gen::glyph

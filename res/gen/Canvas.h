// Drawing helpers shared by the artwork: unit conversion, colour keying and fonts.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainterPath>
#include <QRect>

namespace gen {

// Transparent pixels of skins, buttons and sliders are exactly this colour.
inline constexpr QRgb kKey = 0xFFFF30FF; // RGB(255, 48, 255)

// Dialog units to pixels, the conversion every window uses.
constexpr int pxX(int du) {
    return du * 6 / 4;
}
constexpr int pxY(int du) {
    return du * 13 / 8;
}
inline QRect duRect(int x, int y, int w, int h) {
    return QRect(pxX(x), pxY(y), pxX(w), pxY(h));
}

// An empty ARGB canvas to draw anti-aliased artwork on.
QImage canvas(QSize size);

// Flattens anti-aliased artwork into a 24-bit keyed image. Pixels the artwork covers with at
// least `minAlpha` are blended over `under` (what lies beneath the image where the program
// shows it), so edges and shadows fit their surroundings without a fringe; the rest become
// the key colour.
QImage keyedOver(const QImage& art, const QImage& under, int minAlpha = 128);
QImage keyedOver(const QImage& art, QColor under, int minAlpha = 128);

// Flattens a skin: the artwork inside `shape`, the key colour outside. The shape is filled
// without anti-aliasing, so no pixel of the outline is a blend with the key colour.
QImage keyedSkin(const QImage& art, const QPainterPath& shape);

// The fonts the artwork uses (sizes in pixels).
QFont font(qreal px, int weight = QFont::Normal, bool condensed = false);

QLinearGradient vertical(const QRectF& r, QColor top, QColor bottom);

// Largest pixel size <= `px` at which `text` fits `width` in the given weight.
qreal fitting(const QString& text, qreal px, qreal width, int weight, bool condensed = false);

} // namespace gen

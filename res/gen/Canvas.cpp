#include "Canvas.h"

#include <QFontMetricsF>
#include <QPainter>

namespace gen {

namespace {
// An opaque pixel that happens to equal the key colour would be cut out; move it one step.
QRgb unkeyed(QRgb c) {
    return (c & 0xFFFFFF) == (kKey & 0xFFFFFF) ? qRgb(255, 48, 254) : c;
}

QRgb blend(QRgb premultipliedSrc, QRgb under) {
    const int a = qAlpha(premultipliedSrc);
    auto mix = [&](int s, int u) { return qBound(0, s + (u * (255 - a) + 127) / 255, 255); };
    return qRgb(mix(qRed(premultipliedSrc), qRed(under)), mix(qGreen(premultipliedSrc), qGreen(under)),
                mix(qBlue(premultipliedSrc), qBlue(under)));
}
} // namespace

QImage canvas(QSize size) {
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

QImage keyedOver(const QImage& art, const QImage& under, int minAlpha) {
    const QImage src = art.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage bg = under.convertToFormat(QImage::Format_RGB32);
    QImage out(src.size(), QImage::Format_RGB888);
    for (int y = 0; y < src.height(); ++y)
        for (int x = 0; x < src.width(); ++x) {
            const QRgb s = src.pixel(x, y);
            QRgb u = bg.valid(x, y) ? bg.pixel(x, y) : kKey;
            if ((u & 0xFFFFFF) == (kKey & 0xFFFFFF))
                u = qRgb(236, 240, 245); // beneath lies nothing known: assume the light body
            out.setPixel(x, y, qAlpha(s) >= minAlpha ? unkeyed(blend(s, u)) : kKey);
        }
    return out;
}

QImage keyedOver(const QImage& art, QColor under, int minAlpha) {
    QImage bg(art.size(), QImage::Format_RGB32);
    bg.fill(under);
    return keyedOver(art, bg, minAlpha);
}

QImage keyedSkin(const QImage& art, const QPainterPath& shape) {
    QImage mask(art.size(), QImage::Format_ARGB32_Premultiplied);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.fillPath(shape, Qt::white);
    }
    const QImage src = art.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage out(art.size(), QImage::Format_RGB888);
    for (int y = 0; y < art.height(); ++y)
        for (int x = 0; x < art.width(); ++x)
            out.setPixel(
                x, y, qAlpha(mask.pixel(x, y)) ? unkeyed(blend(src.pixel(x, y), qRgb(120, 130, 145))) : kKey);
    // The top-left corner carries the key colour the program reads at run time.
    out.setPixel(0, 0, kKey);
    return out;
}

QFont font(qreal px, int weight, bool condensed) {
    QFont f(condensed ? QStringLiteral("DejaVu Sans Condensed") : QStringLiteral("DejaVu Sans"));
    if (condensed)
        f.setStretch(QFont::Condensed);
    f.setPixelSize(qMax(1, qRound(px)));
    f.setWeight(QFont::Weight(weight));
    f.setHintingPreference(QFont::PreferVerticalHinting);
    return f;
}

QLinearGradient vertical(const QRectF& r, QColor top, QColor bottom) {
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    return g;
}

qreal fitting(const QString& text, qreal px, qreal width, int weight, bool condensed) {
    while (px > 6 && QFontMetricsF(font(px, weight, condensed)).horizontalAdvance(text) > width)
        px -= 1;
    return px;
}

} // namespace gen

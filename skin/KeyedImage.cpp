#include "skin/KeyedImage.h"

QImage KeyedImage(const QImage& picture) {
    if (picture.isNull())
        return {};
    QImage out = picture.convertToFormat(QImage::Format_ARGB32);
    const QRgb key = out.pixel(0, 0) & 0xFFFFFFu;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = (line[x] & 0xFFFFFFu) == key ? 0u : (line[x] | 0xFF000000u);
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

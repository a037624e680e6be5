#include "skin/Fonts.h"

#include <QFontMetrics>

#include <algorithm>

QFont LogicalFont(const QString& face, int heightPx, int averageWidthPx) {
    QFont font(face);
    font.setPixelSize(heightPx);
    // Weight 1 in the templates asks for the thinnest weight; the nearest available is normal.
    font.setWeight(QFont::Normal);
    if (averageWidthPx > 0) {
        const int natural = QFontMetrics(font).averageCharWidth();
        if (natural > 0)
            font.setStretch(std::clamp(100 * averageWidthPx / natural, 50, 200));
    }
    return font;
}

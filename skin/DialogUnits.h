// Control tables give positions in dialog units of the templates' 8-point font. One conversion
// serves every window: a horizontal unit is 6/4 pixel, a vertical one 13/8 pixel, each rounded
// to the nearest pixel (that is what makes the main template's 291 units of height the main
// skin's 473 pixels).
#pragma once

#include <QRect>

namespace dlu {

// value * num / den, rounded to nearest with halves away from zero.
constexpr int scale(int value, int num, int den) {
    const long long p = static_cast<long long>(value) * num;
    const long long q = p >= 0 ? (2 * p + den) / (2 * den) : -((-2 * p + den) / (2 * den));
    return static_cast<int>(q);
}

constexpr int x(int units) {
    return scale(units, 6, 4);
}
constexpr int y(int units) {
    return scale(units, 13, 8);
}

// Each of x, y, width and height is converted on its own, as the template mapping does.
constexpr QRect rect(int x0, int y0, int w, int h) {
    return QRect(x(x0), y(y0), x(w), y(h));
}
inline QRect rect(const QRect& units) {
    return rect(units.x(), units.y(), units.width(), units.height());
}

} // namespace dlu

// Pictures and helpers shared by the skin tests.
#pragma once

#include <QColor>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include "skin/SliderMessage.h"

#include <vector>

namespace skintest {

inline constexpr QRgb kKey = 0xFF30FF; // the skins' key colour, RGB(255, 48, 255)

// A picture of `size` in the key colour with an opaque block `body` of `colour` on it.
inline QImage keyedPicture(QSize size, QRect body, QColor colour,
                           QImage::Format format = QImage::Format_RGB32) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor::fromRgb(kKey));
    QPainter p(&img);
    p.fillRect(body, colour);
    p.end();
    return img.convertToFormat(format);
}

// A widget that shows one solid colour and records the slider notifications posted to it.
class Backdrop : public QWidget {
public:
    explicit Backdrop(QColor colour, QWidget* parent = nullptr) : QWidget(parent), colour_(colour) {}

    struct Message {
        int type;
        int wParam;
        int lParam;
        bool operator==(const Message&) const = default;
    };
    std::vector<Message> messages;
    int paints = 0;
    int presses = 0;

protected:
    bool event(QEvent* e) override {
        if (SliderMessage::isSliderMessage(e)) {
            const auto* m = static_cast<const SliderMessage*>(e);
            messages.push_back({e->type(), m->wParam(), m->lParam()});
            return true;
        }
        return QWidget::event(e);
    }
    void paintEvent(QPaintEvent*) override {
        ++paints;
        QPainter p(this);
        p.fillRect(rect(), colour_);
    }
    void mousePressEvent(QMouseEvent*) override { ++presses; }

private:
    QColor colour_;
};

inline const QColor kBackdrop(0, 128, 0);
inline const QColor kUp(200, 30, 30);
inline const QColor kDown(30, 30, 200);

// A round-ish button picture: key colour in the corners.
inline QImage buttonPicture(QSize size, QColor face) {
    QImage img = skintest::keyedPicture(size, {2, 2, size.width() - 4, size.height() - 4}, face);
    return img;
}

// Counts pixels inside `area` where two pictures differ.
inline int differences(const QImage& a, const QImage& b, const QRect& area) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                ++n;
    return n;
}

} // namespace skintest

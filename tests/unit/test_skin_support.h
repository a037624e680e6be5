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

} // namespace skintest

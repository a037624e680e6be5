// The notifications a bitmap slider posts to its parent: the control's identifier and the
// position, the same two values for both kinds.
#pragma once

#include <QEvent>

// While the thumb is dragged, each time it reaches another pixel (and for the jump at the press).
inline constexpr QEvent::Type WM_SLIDER_TRACK = static_cast<QEvent::Type>(0x28D1);
// At the release of the button and after every handled key.
inline constexpr QEvent::Type WM_SLIDER_SET = static_cast<QEvent::Type>(0x28D2);

class SliderMessage : public QEvent {
public:
    SliderMessage(QEvent::Type type, int controlId, int position)
        : QEvent(type), controlId_(controlId), position_(position) {}

    int wParam() const { return controlId_; }
    int lParam() const { return position_; }

    static bool isSliderMessage(const QEvent* e) {
        return e->type() == WM_SLIDER_TRACK || e->type() == WM_SLIDER_SET;
    }

private:
    int controlId_;
    int position_;
};

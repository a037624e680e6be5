// The keyboard focus on skinned controls, which draw no frame of their own: a dotted rectangle
// just inside the control, as the platform draws it on plain buttons.
#pragma once

class QWidget;

void DrawFocusFrame(QWidget* widget);

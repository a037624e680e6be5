// The program's built-in images: skins, button images, slider images and the icon.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace res {
// A numbered bitmap: skins 329, 331, 332, 355; slider channels 1042, 1043; slider thumbs 319,
// 320. Null when there is none.
QImage bitmap(int id);
// A named bitmap, case-insensitive ("cmdPickupU" finds CMDPICKUPU). Null when there is none.
QImage namedBitmap(const QString& name);
// The application icon (icon 128).
QIcon appIcon();
} // namespace res

// The program's pictures: skins, command buttons, slider parts, the close image and the icon.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <map>
#include <vector>

namespace gen {

// One colour scheme for all windows: a blue title band over a light body.
namespace colour {
inline const QColor outline(0x6f, 0x80, 0x96);
inline const QColor bodyTop(0xf6, 0xf8, 0xfb);
inline const QColor bodyBottom(0xdc, 0xe3, 0xeb);
inline const QColor bandTop(0x2c, 0x72, 0xc7);
inline const QColor bandBottom(0x1a, 0x4c, 0x8f);
inline const QColor bandText(0xff, 0xff, 0xff);
inline const QColor bandSoft(0xc4, 0xdc, 0xf7);
inline const QColor lcdTop(0xea, 0xf2, 0xf8);
inline const QColor lcdBottom(0xd3, 0xe2, 0xed);
inline const QColor lcdEdge(0x93, 0xa9, 0xbe);
inline const QColor card(0xfb, 0xfc, 0xfe);
inline const QColor cardEdge(0xc3, 0xcf, 0xdb);
inline const QColor field(0xf4, 0xf4, 0xf4);
inline const QColor fieldEdge(0xa3, 0xb5, 0xc7);
inline const QColor ink(0x1d, 0x27, 0x33);
inline const QColor inkSoft(0x55, 0x64, 0x76);
inline const QColor accent(0x22, 0x6c, 0xc4);
inline const QColor go(0x23, 0xa5, 0x55);
inline const QColor stop(0xdf, 0x3e, 0x46);
} // namespace colour

struct Named {
    QString name; // resource name without extension, e.g. "CMDPICKUPU" or "355"
    QImage image;
};

// A skin by resource id: 355 main, 332 call history, 329 login, 331 phone book.
QImage drawSkin(int id);

// Every command button image, up ("U") and down ("D"). `skins` are the finished skins by id;
// each button is blended over the skin where its window shows it.
std::vector<Named> drawButtons(const std::map<int, QImage>& skins);

// Slider channel (1042, 1043) and thumb (320, 319) images, and the phone book's close image
// (350), blended over the skin beneath them.
QImage drawChannel(int id, const QImage& mainSkin);
QImage drawThumb(int id, const QImage& mainSkin);
QImage drawCloseImage(const QImage& phoneBookSkin);

// The application icon at one size, with real transparency.
QImage drawIcon(int size);
// The same drawing on any painter (an image, or the SVG writer), `size` pixels square.
void paintIcon(QPainter& p, int size);
// The icon as a vector drawing (SVG), for desktops that scale it themselves.
bool writeIconSvg(const QString& path);

} // namespace gen

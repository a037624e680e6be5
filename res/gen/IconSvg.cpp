// The icon as SVG for the desktop's icon theme: the very painting of the bitmap icons, recorded
// by Qt's SVG writer, so the scalable icon and the bitmaps cannot drift apart.
#include "Artwork.h"

#include <QBuffer>
#include <QFile>
#include <QSvgGenerator>

namespace gen {

bool writeIconSvg(const QString& path) {
    // The full-detail drawing; the desktop scales the vectors to whatever size it shows.
    constexpr int kSize = 256;
    QBuffer svg;
    svg.open(QIODevice::WriteOnly);
    QSvgGenerator gen;
    gen.setOutputDevice(&svg);
    gen.setSize(QSize(kSize, kSize));
    gen.setViewBox(QRect(0, 0, kSize, kSize));
    gen.setResolution(96);
    gen.setTitle(QStringLiteral("Orvane Softphone"));
    gen.setDescription(QStringLiteral("Application icon"));
    QPainter p;
    if (!p.begin(&gen))
        return false;
    paintIcon(p, kSize);
    if (!p.end())
        return false;

    // The writer states the size in millimetres; icon themes expect plain pixels.
    QByteArray text = svg.data();
    const QByteArray mm = QByteArray::number(kSize * 25.4 / 96, 'g', 6) + "mm\"";
    text.replace("width=\"" + mm, "width=\"" + QByteArray::number(kSize) + "\"");
    text.replace("height=\"" + mm, "height=\"" + QByteArray::number(kSize) + "\"");

    QFile out(path);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(text) == text.size() &&
           out.flush();
}

} // namespace gen

// Pictures of the four windows with every control in place (buttons up, and again pressed),
// on a dark desktop so that the outline shows, and a sheet of all button images.
#include "Artwork.h"
#include "Canvas.h"
#include "Layout.h"

#include <QDir>
#include <QPainter>

namespace gen {

namespace {

QImage transparentKey(const QImage& img) {
    QImage out = img.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x)
            if ((out.pixel(x, y) & 0xFFFFFF) == (kKey & 0xFFFFFF))
                out.setPixel(x, y, 0);
    return out;
}

QImage compose(const Window& w, const std::map<int, QImage>& skins, const std::map<QString, QImage>& named,
               const std::map<int, QImage>& bitmaps, bool down) {
    const QImage skin = transparentKey(skins.at(w.skin));
    QImage out(w.size + QSize(24, 24), QImage::Format_RGB32);
    out.fill(QColor(0x3a, 0x3f, 0x47));
    QPainter p(&out);
    p.translate(12, 12);
    p.drawImage(0, 0, skin);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (const Control& c : w.controls) {
        const QRect r = c.rect();
        switch (c.kind) {
        case Kind::Button: {
            const QString base = QLatin1String(c.name);
            auto it = named.find(base + (down ? QLatin1Char('D') : QLatin1Char('U')));
            if (it == named.end())
                it = named.find(base + QLatin1Char('U'));
            if (it != named.end())
                p.drawImage(c.pos(), transparentKey(it->second));
            break;
        }
        case Kind::Label:
            p.setFont(font(11));
            p.setPen(w.skin == 332 && QLatin1String(c.name) == QLatin1String("Dialed") ? Qt::red : Qt::black);
            p.drawText(r, Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(c.name));
            break;
        case Kind::Edit: {
            const bool number = w.skin == 355;
            p.fillRect(r, number ? QColor(244, 244, 244) : Qt::white);
            if (!number) {
                p.setPen(QColor(0x9a, 0xa5, 0xb1));
                p.drawRect(r.adjusted(0, 0, -1, -1));
            }
            p.setFont(number ? font(15, QFont::Black) : font(11));
            p.setPen(Qt::black);
            p.drawText(r.adjusted(3, 0, -3, 0), (number ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter),
                       QString::fromUtf8(c.name));
            break;
        }
        case Kind::List: {
            p.fillRect(r, Qt::white);
            p.setPen(QColor(0x9a, 0xa5, 0xb1));
            p.drawRect(r.adjusted(0, 0, -1, -1));
            p.setFont(font(11));
            p.setPen(Qt::black);
            const char* rows[] = {w.skin == 331 ? " NEW ITEM" : "4021  05/03/2009 09:05", "Anna--4021",
                                  "Bruno--0044 207 946 0321"};
            for (int i = 0; i < 3; ++i)
                p.drawText(QRect(r.left() + 4, r.top() + 3 + i * 16, r.width() - 8, 16), Qt::AlignLeft,
                           QString::fromUtf8(rows[i]));
            break;
        }
        case Kind::Slider: {
            const QRect at(c.pos(), QSize(124, 9));
            p.drawImage(at.topLeft(), transparentKey(bitmaps.at(QString::fromLatin1(c.name).toInt())));
            const int thumbId = QLatin1String(c.name) == QLatin1String("1042") ? 320 : 319;
            const int centre = QLatin1String(c.name) == QLatin1String("1042") ? 62 : 90;
            p.drawImage(at.left() + centre - 5, at.top(), transparentKey(bitmaps.at(thumbId)));
            break;
        }
        case Kind::Check:
            p.fillRect(r.adjusted(0, 0, -2, -2), Qt::white);
            p.setPen(QColor(0x70, 0x78, 0x80));
            p.drawRect(r.adjusted(0, 0, -3, -3));
            break;
        case Kind::Picture:
            p.drawImage(c.pos(), transparentKey(bitmaps.at(QString::fromLatin1(c.name).toInt())));
            break;
        case Kind::Link:
            break;
        }
    }
    p.end();
    return out;
}

QImage sheet(const std::map<QString, QImage>& named) {
    QImage out(QSize(560, 520), QImage::Format_RGB32);
    out.fill(QColor(0xe6, 0xeb, 0xf0));
    QPainter p(&out);
    int x = 8, y = 8, rowH = 0;
    for (const auto& [name, img] : named) {
        if (!name.endsWith(QLatin1Char('U')))
            continue;
        const QString base = name.left(name.size() - 1);
        const auto down = named.find(base + QLatin1Char('D'));
        const int w = img.width() * 2 + 6;
        if (x + w > out.width() - 8) {
            x = 8;
            y += rowH + 8;
            rowH = 0;
        }
        p.drawImage(x, y, transparentKey(img));
        if (down != named.end())
            p.drawImage(x + img.width() + 6, y, transparentKey(down->second));
        x += w + 10;
        rowH = qMax(rowH, img.height());
    }
    p.end();
    return out.scaled(out.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

} // namespace

void writePreviews(const QString& dir, const std::map<int, QImage>& skins,
                   const std::map<QString, QImage>& named, const std::map<int, QImage>& bitmaps) {
    QDir().mkpath(dir);
    const std::pair<const char*, const Window*> windows[] = {{"main", &mainWindow()},
                                                             {"call-history", &callHistoryWindow()},
                                                             {"login", &loginWindow()},
                                                             {"phone-book", &phoneBookWindow()}};
    for (const auto& [name, w] : windows) {
        const QImage up = compose(*w, skins, named, bitmaps, false);
        up.save(dir + QStringLiteral("/%1.png").arg(QLatin1String(name)));
        up.scaled(up.size() * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .save(dir + QStringLiteral("/%1-x2.png").arg(QLatin1String(name)));
        compose(*w, skins, named, bitmaps, true)
            .save(dir + QStringLiteral("/%1-pressed.png").arg(QLatin1String(name)));
    }
    sheet(named).save(dir + QStringLiteral("/buttons-x2.png"));
    QImage icons(QSize(400, 280), QImage::Format_RGB32);
    icons.fill(QColor(0xe6, 0xeb, 0xf0));
    QPainter p(&icons);
    int x = 8;
    for (int size : {16, 32, 48, 256}) {
        p.drawImage(x, 8, drawIcon(size));
        x += size + 12;
    }
    p.end();
    icons.save(dir + QStringLiteral("/icon.png"));
}

} // namespace gen

// Command buttons, slider parts, the close image and the icon. Every button is drawn up and
// pressed; the pressed picture sinks (darker face, no drop shadow, content one pixel lower).
#include "Artwork.h"
#include "Canvas.h"
#include "Glyphs.h"
#include "Layout.h"

#include <QFontMetricsF>
#include <QPainter>
#include <functional>

namespace gen {

namespace {

using Paint = std::function<void(QPainter&, QSize, bool down)>;

struct Face {
    QColor top, bottom, edge;
};

const Face kLight{QColor(0xff, 0xff, 0xff), QColor(0xe6, 0xec, 0xf2), QColor(0xae, 0xbc, 0xcb)};
const Face kLightDown{QColor(0xc9, 0xdb, 0xee), QColor(0xb9, 0xcf, 0xe7), QColor(0x68, 0x8a, 0xb0)};

Face tinted(QColor base) {
    return {base.lighter(118), base.darker(108), base.darker(140)};
}
Face tintedDown(QColor base) {
    return {base.darker(125), base.darker(112), base.darker(160)};
}

// The body of a button: drop shadow and highlight when up, a sunken face when down.
void face(QPainter& p, const QRectF& r, qreal radius, const Face& up, const Face& down, bool pressed) {
    const Face& f = pressed ? down : up;
    p.setPen(Qt::NoPen);
    if (!pressed) {
        p.setBrush(QColor(0, 0, 0, 40));
        p.drawRoundedRect(r.translated(0, 1.2), radius, radius);
    }
    p.setPen(QPen(f.edge, 1));
    p.setBrush(vertical(r, f.top, f.bottom));
    p.drawRoundedRect(r, radius, radius);
    p.save();
    QPainterPath clip;
    clip.addRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    p.setClipPath(clip);
    p.setPen(Qt::NoPen);
    if (pressed) {
        p.setBrush(QColor(0, 0, 0, 45));
        p.drawRect(QRectF(r.left(), r.top(), r.width(), 2));
    } else {
        p.setBrush(QColor(255, 255, 255, 110));
        p.drawRect(QRectF(r.left(), r.top() + 0.5, r.width(), 1));
    }
    p.restore();
}

void label(QPainter& p, const QRectF& box, const QString& s, const QFont& f, QColor c,
           int flags = Qt::AlignCenter) {
    p.setFont(f);
    p.setPen(c);
    p.drawText(box, flags, s);
}

Paint dialKey(QString digit, QString letters) {
    return [=](QPainter& p, QSize s, bool down) {
        face(p, QRectF(1.5, 1.5, s.width() - 3, s.height() - 4), 7, kLight, kLightDown, down);
        if (down)
            p.translate(0, 1);
        const bool symbol = digit == QLatin1String("*") || digit == QLatin1String("#");
        QRectF digitBox(0, letters.isEmpty() ? 4 : 2, s.width(), letters.isEmpty() ? 21 : 18);
        if (digit == QLatin1String("*"))
            digitBox.translate(0, 3);
        label(p, digitBox, digit, font(symbol ? 18 : 16, QFont::Bold), colour::ink);
        if (!letters.isEmpty())
            label(p, QRectF(0, 19, s.width(), 9), letters, font(7, QFont::Bold), colour::inkSoft);
    };
}

Paint callKey(QColor base, bool lifted) {
    return [=](QPainter& p, QSize s, bool down) {
        const QRectF r(2.5, 2.5, s.width() - 5, s.height() - 6);
        face(p, r, r.height() / 2, tinted(base), tintedDown(base), down);
        if (down)
            p.translate(0, 1);
        glyph::handset(p, QRectF(r.center().x() - 12, r.center().y() - 12, 24, 24), Qt::white, lifted);
    };
}

using GlyphFn = std::function<void(QPainter&, const QRectF&, QColor)>;

Paint menuKey(GlyphFn icon, QString text) {
    return [=](QPainter& p, QSize s, bool down) {
        const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 2);
        face(p, r, 6, kLight, kLightDown, down);
        if (down)
            p.translate(0, 1);
        const qreal iconSize = 13;
        icon(p, QRectF(6, r.center().y() - iconSize / 2, iconSize, iconSize), colour::accent);
        const QRectF textBox(23, 0, s.width() - 26, r.height() + 1);
        label(p, textBox, text,
              font(fitting(text, 10, textBox.width(), QFont::Bold, true), QFont::Bold, true), colour::ink,
              Qt::AlignLeft | Qt::AlignVCenter);
    };
}

Paint roundKey(GlyphFn icon, QColor ink, qreal iconSize) {
    return [=](QPainter& p, QSize s, bool down) {
        const qreal d = qMin(s.width(), s.height()) - 3;
        const QRectF r((s.width() - d) / 2, 1, d, d);
        face(p, r, d / 2, kLight, kLightDown, down);
        if (down)
            p.translate(0, 1);
        icon(p, QRectF(r.center().x() - iconSize / 2, r.center().y() - iconSize / 2, iconSize, iconSize),
             ink);
    };
}

Paint letterKey(QString letter, QColor ink) {
    return roundKey(
        [letter](QPainter& p, const QRectF& box, QColor c) {
            label(p, box.adjusted(-2, -2, 2, 2), letter, font(13, QFont::Bold), c);
        },
        ink, 13);
}

enum class Tone { Neutral, Primary, Go, Danger };

// A button with a caption, optionally led by a pictogram. Tall images get a face of a
// comfortable height, centred; the rest of the image stays transparent.
Paint textKey(QString text, Tone tone, GlyphFn icon = {}) {
    return [=](QPainter& p, QSize s, bool down) {
        const qreal h = qMin<qreal>(s.height() - 4, 30);
        // Side by side buttons (the phone book's row) need a gap between their faces.
        const qreal side = s.width() >= 56 ? 3.5 : 1.5;
        const QRectF r(side, (s.height() - h) / 2 - 0.5, s.width() - 2 * side, h);
        QColor ink = colour::ink;
        switch (tone) {
        case Tone::Neutral:
            face(p, r, 8, kLight, kLightDown, down);
            break;
        case Tone::Danger:
            face(p, r, 8, kLight, kLightDown, down);
            ink = colour::stop.darker(110);
            break;
        case Tone::Primary:
            face(p, r, 8, tinted(colour::accent), tintedDown(colour::accent), down);
            ink = Qt::white;
            break;
        case Tone::Go:
            face(p, r, 8, tinted(colour::go), tintedDown(colour::go), down);
            ink = Qt::white;
            break;
        }
        if (down)
            p.translate(0, 1);
        const qreal iconSize = icon ? 12 : 0;
        const qreal gap = icon ? 5 : 0;
        const qreal px = fitting(text, 12, r.width() - iconSize - gap - 4, QFont::Bold, true);
        const QFont f = font(px, QFont::Bold, true);
        const qreal textWidth = QFontMetricsF(f).horizontalAdvance(text);
        const qreal left = r.center().x() - (iconSize + gap + textWidth) / 2;
        if (icon)
            icon(p, QRectF(left, r.center().y() - iconSize / 2, iconSize, iconSize), ink);
        label(p, QRectF(left + iconSize + gap, r.top(), textWidth + 2, r.height()), text, f, ink,
              Qt::AlignLeft | Qt::AlignVCenter);
    };
}

// The small keys in a title band: a lighter patch of the band with a white sign.
Paint bandKey(GlyphFn sign) {
    return [=](QPainter& p, QSize s, bool) {
        const QRectF r(0.5, 0.5, s.width() - 1, s.height() - 1);
        p.setPen(QPen(QColor(255, 255, 255, 90), 1));
        p.setBrush(QColor(255, 255, 255, 46));
        p.drawRoundedRect(r, 3, 3);
        const qreal g = qMin(s.width(), s.height()) - 4;
        sign(p, QRectF((s.width() - g) / 2, (s.height() - g) / 2, g, g), Qt::white);
    };
}

struct ButtonArt {
    const char* name;
    QSize size;
    bool hasDown;
    Paint paint;
};

std::vector<ButtonArt> buttonTable() {
    using namespace glyph;
    auto lifted = [](QPainter& p, const QRectF& b, QColor c) { handset(p, b, c, true); };
    auto g = [](auto fn) -> GlyphFn { return fn; };
    return {
        {"FEEDBACK", {79, 24}, true, menuKey(g(clock), QStringLiteral("Recent Calls"))},
        {"CMDREDIAL", {25, 26}, true, roundKey(g(redial), colour::go.darker(115), 13)},
        {"CMDONE", {36, 32}, true, dialKey(QStringLiteral("1"), {})},
        {"CMDTWO", {36, 32}, true, dialKey(QStringLiteral("2"), QStringLiteral("ABC"))},
        {"CMDTHREE", {36, 32}, true, dialKey(QStringLiteral("3"), QStringLiteral("DEF"))},
        {"CMDFOUR", {36, 32}, true, dialKey(QStringLiteral("4"), QStringLiteral("GHI"))},
        {"CMDFIVE", {36, 32}, true, dialKey(QStringLiteral("5"), QStringLiteral("JKL"))},
        {"CMDSIX", {36, 32}, true, dialKey(QStringLiteral("6"), QStringLiteral("MNO"))},
        {"CMDSEVEN", {36, 32}, true, dialKey(QStringLiteral("7"), QStringLiteral("PQRS"))},
        {"CMDEIGHT", {36, 32}, true, dialKey(QStringLiteral("8"), QStringLiteral("TUV"))},
        {"CMDNINE", {36, 32}, true, dialKey(QStringLiteral("9"), QStringLiteral("WXYZ"))},
        {"CMDZERO", {36, 32}, true, dialKey(QStringLiteral("0"), QStringLiteral("+"))},
        {"CMDSTAR", {36, 32}, true, dialKey(QStringLiteral("*"), {})},
        {"CMDPOUND", {36, 32}, true, dialKey(QStringLiteral("#"), {})},
        {"CMDPICKUP", {65, 40}, true, callKey(colour::go, true)},
        {"CMDHANGUP", {65, 40}, true, callKey(colour::stop, false)},
        {"CMDAUDIO", {79, 24}, true, menuKey(g(headset), QStringLiteral("Audio Setup"))},
        {"CMDCALLHISTORY", {79, 24}, true, menuKey(g(list), QStringLiteral("Call History"))},
        {"CMDRATE", {79, 23}, true, menuKey(g(tag), QStringLiteral("Rates"))},
        {"CMDPHONE", {79, 24}, true, menuKey(g(book), QStringLiteral("Phone Book"))},
        {"CMDREGISTER", {68, 28}, true, textKey(QStringLiteral("Register"), Tone::Primary)},
        {"CMDMINIMIZE", {17, 11}, false, bandKey([](QPainter& p, const QRectF& b, QColor c) {
             minus(p, b.adjusted(-2, 0, 2, 0), c, 0.2);
         })},
        {"CMDCROSS", {19, 16}, false, bandKey([](QPainter& p, const QRectF& b, QColor c) {
             cross(p, b, c, 0.16);
         })},
        {"CMDLOGOFF", {26, 24}, false, roundKey(g(power), colour::stop, 13)},
        {"CMDACCOUNT", {50, 21}, true, textKey(QStringLiteral("Login"), Tone::Neutral, g(person))},
        {"CMDBACK", {25, 25}, true, roundKey(g(backspace), colour::ink, 14)},
        {"CMDCLEAR", {78, 43}, true, textKey(QStringLiteral("Clear"), Tone::Danger, g(bin))},
        {"CMD_CLEAR1", {25, 25}, true, letterKey(QStringLiteral("C"), colour::stop)},
        {"CMDCLOSE",
         {75, 38},
         true,
         textKey(QStringLiteral("Close"), Tone::Neutral,
                 [](QPainter& p, const QRectF& b, QColor c) { cross(p, b, c, 0.16); })},
        {"CMDLOGIN", {97, 34}, true, textKey(QStringLiteral("Login"), Tone::Primary)},
        {"CMDEXIT", {97, 33}, true, textKey(QStringLiteral("Exit"), Tone::Neutral)},
        {"CMDADD",
         {60, 36},
         true,
         textKey(QStringLiteral("Add"), Tone::Neutral,
                 [](QPainter& p, const QRectF& b, QColor c) { plus(p, b, c, 0.18); })},
        {"CMDEDIT", {62, 36}, true, textKey(QStringLiteral("Edit"), Tone::Neutral, g(pencil))},
        {"CMDDELETE", {63, 36}, true, textKey(QStringLiteral("Delete"), Tone::Danger, g(bin))},
        {"CMDCALL", {60, 36}, true, textKey(QStringLiteral("Call"), Tone::Go, lifted)},
    };
}

// The skin patch a button of this name lies on, where some window shows it.
QImage beneath(const std::map<int, QImage>& skins, const QString& name, QSize size) {
    for (const Window* w : {&callHistoryWindow(), &loginWindow(), &phoneBookWindow(), &mainWindow()})
        for (const Control& c : w->controls)
            if (c.kind == Kind::Button && QLatin1String(c.name) == name)
                return skins.at(w->skin).copy(QRect(c.pos(), size));
    QImage plain(size, QImage::Format_RGB32);
    plain.fill(colour::bodyBottom);
    return plain;
}

QImage render(const Paint& paint, QSize size, bool down, const QImage& under) {
    QImage art = canvas(size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paint(p, size, down);
    p.end();
    return keyedOver(art, under, 8);
}

QRect sliderRect(int id) {
    for (const Control& c : mainWindow().controls)
        if (c.kind == Kind::Slider && QLatin1String(c.name) == QString::number(id))
            return QRect(c.pos(), QSize(124, 9));
    return QRect(0, 0, 124, 9);
}

} // namespace

std::vector<Named> drawButtons(const std::map<int, QImage>& skins) {
    std::vector<Named> out;
    for (const ButtonArt& b : buttonTable()) {
        const QString base = QLatin1String(b.name);
        const QImage under = beneath(skins, base, b.size);
        out.push_back({base + QLatin1Char('U'), render(b.paint, b.size, false, under)});
        if (b.hasDown)
            out.push_back({base + QLatin1Char('D'), render(b.paint, b.size, true, under)});
    }
    return out;
}

QImage drawChannel(int id, const QImage& mainSkin) {
    const QRect at = sliderRect(id);
    QImage art = canvas(at.size());
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track(3, 2.5, at.width() - 6, 4);
    p.setPen(QPen(QColor(0x8c, 0x9d, 0xb0), 1));
    p.setBrush(vertical(track, QColor(0xb7, 0xc4, 0xd2), QColor(0xdb, 0xe3, 0xeb)));
    p.drawRoundedRect(track, 2, 2);
    p.end();
    QImage out = keyedOver(art, mainSkin.copy(at), 8);
    out.setPixel(0, 0, kKey);
    return out;
}

QImage drawThumb(int, const QImage& mainSkin) {
    QImage art = canvas(QSize(10, 9));
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF knob(0.5, 0.5, 9, 8);
    p.setPen(QPen(colour::accent.darker(115), 1));
    p.setBrush(vertical(knob, QColor(0x5a, 0x9a, 0xe6), colour::accent));
    p.drawEllipse(knob);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawEllipse(QRectF(3, 2, 3, 2));
    p.end();
    // The thumb travels along the channel: blend its edge with the middle of the track.
    const QRect at = sliderRect(1042);
    QImage under = mainSkin.copy(at.left() + 57, at.top(), 10, 9);
    {
        const QImage channel = drawChannel(1042, mainSkin);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 10; ++x)
                if ((channel.pixel(57 + x, y) & 0xFFFFFF) != (kKey & 0xFFFFFF))
                    under.setPixel(x, y, channel.pixel(57 + x, y));
    }
    QImage out = keyedOver(art, under, 128);
    out.setPixel(0, 0, kKey);
    return out;
}

QImage drawCloseImage(const QImage& phoneBookSkin) {
    const QSize size(19, 16);
    QImage art = canvas(size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    bandKey([](QPainter& q, const QRectF& b, QColor c) { glyph::cross(q, b, c, 0.16); })(p, size, false);
    p.end();
    QPoint at;
    for (const Control& c : phoneBookWindow().controls)
        if (c.kind == Kind::Picture)
            at = c.pos();
    return keyedOver(art, phoneBookSkin.copy(QRect(at, size)), 8);
}

void paintIcon(QPainter& p, int size) {
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    const QRectF r = size >= 32 ? QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92) : QRectF(0, 0, s, s);
    p.setPen(Qt::NoPen);
    p.setBrush(vertical(r, colour::bandTop.lighter(115), colour::bandBottom));
    p.drawRoundedRect(r, s * 0.22, s * 0.22);
    glyph::handset(p, QRectF(s * 0.16, s * 0.2, s * 0.62, s * 0.62), Qt::white, true);
    if (size >= 32) {
        p.setPen(QPen(QColor(255, 255, 255, 230), s * 0.055, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        for (int i = 0; i < 2; ++i) {
            const qreal rad = s * (0.14 + i * 0.12);
            const QPointF c(s * 0.56, s * 0.44);
            p.drawArc(QRectF(c.x() - rad, c.y() - rad, 2 * rad, 2 * rad), 5 * 16, 80 * 16);
        }
    }
}

QImage drawIcon(int size) {
    QImage img = canvas(QSize(size, size));
    QPainter p(&img);
    paintIcon(p, size);
    p.end();
    return img;
}

} // namespace gen

// The four window skins. Each is a rounded body with a title band; the panels, frames and
// captions are placed around the controls their window puts on top.
#include "Artwork.h"
#include "Canvas.h"
#include "Glyphs.h"
#include "Layout.h"

#include <QPainter>

namespace gen {

namespace {

constexpr qreal kCorner = 18;

QPainterPath rounded(const QRectF& r, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(r, radius, radius);
    return path;
}

// Outline colour on the edge, the body gradient inside, a title band across the top.
void paintBody(QPainter& p, QSize size, int band) {
    const QRectF all(0, 0, size.width(), size.height());
    p.fillRect(all, colour::outline);
    const QPainterPath inner = rounded(all.adjusted(1, 1, -1, -1), kCorner - 1);
    p.fillPath(inner, vertical(all, colour::bodyTop, colour::bodyBottom));
    p.save();
    p.setClipPath(inner);
    const QRectF bandRect(0, 0, size.width(), band);
    p.fillRect(bandRect, vertical(bandRect, colour::bandTop, colour::bandBottom));
    p.fillRect(QRectF(0, 1, size.width(), 1), QColor(255, 255, 255, 60));
    p.fillRect(QRectF(0, band, size.width(), 1), QColor(0x12, 0x36, 0x66));
    p.fillRect(QRectF(0, band + 1, size.width(), 2), QColor(0, 0, 0, 18));
    p.restore();
}

void panel(QPainter& p, const QRectF& r, qreal radius, const QBrush& fill, QColor edge) {
    p.setPen(QPen(edge, 1));
    p.setBrush(fill);
    p.drawRoundedRect(r, radius, radius);
}

// A light ring around a control that draws its own frame, so it sits in the skin.
void halo(QPainter& p, const QRect& control, QColor fill) {
    panel(p, QRectF(control).adjusted(-1.5, -1.5, 1.5, 1.5), 3, fill, colour::fieldEdge);
}

void text(QPainter& p, const QRectF& box, const QString& s, const QFont& f, QColor c,
          int flags = Qt::AlignLeft | Qt::AlignVCenter) {
    p.setFont(f);
    p.setPen(c);
    p.drawText(box, flags, s);
}

QRect rectOf(const Window& w, const char* name) {
    for (const Control& c : w.controls)
        if (QLatin1String(c.name) == QLatin1String(name))
            return c.rect();
    return {};
}

QImage finish(const QImage& art) {
    return keyedSkin(art, rounded(QRectF(QPointF(0, 0), art.size()), kCorner));
}

QImage mainSkin() {
    const Window& w = mainWindow();
    QImage art = canvas(w.size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paintBody(p, w.size, 56);

    // Service name, where the web-site link lies.
    const QRect link = duRect(9, 14, 105, 13);
    glyph::logo(p, QRectF(link.left() + 1, link.top() - 1, 23, 23), colour::bandText, colour::bandSoft);
    text(p, QRectF(link.left() + 29, link.top() - 1, 80, 23), QStringLiteral("Orvane"), font(16, QFont::Bold),
         colour::bandText);
    text(p, QRectF(link.left() + 95, link.top() + 1, 70, 23), QStringLiteral("Softphone"), font(11),
         colour::bandSoft);

    // The display: status lines, the number field and the quick keys beneath it.
    const QRectF display(24.5, 63.5, 236, 142);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 22));
    p.drawRoundedRect(display.translated(0, 1.5), 10, 10);
    panel(p, display, 10, vertical(display, colour::lcdTop, colour::lcdBottom), colour::lcdEdge);
    p.fillRect(QRectF(34, 64.5, 217, 1), QColor(255, 255, 255, 160));
    // A faint mark in the free right half of the display.
    glyph::logo(p, QRectF(186, 76, 62, 62), QColor(0xc6, 0xd7, 0xe4), QColor(0xc6, 0xd7, 0xe4));
    // Number field: the edit paints 0xF4F4F4; its frame is one step larger.
    const QRect number = duRect(25, 93, 86, 12);
    panel(p, QRectF(number).adjusted(-2.5, -2.5, 2.5, 2.5), 4, colour::field, colour::fieldEdge);
    p.fillRect(QRectF(number.left() - 1, number.top() - 1, number.width() + 2, 1), QColor(0, 0, 0, 20));

    // Volume: the two sliders with their captions.
    const QRectF volume(24.5, 400.5, 236, 46);
    panel(p, volume, 8, colour::card, colour::cardEdge);
    const QRect mic = duRect(24, 251, 13, 8);
    const QRect spk = duRect(24, 264, 13, 8);
    for (const auto& [slider, isMic] : {std::pair{mic, true}, std::pair{spk, false}}) {
        const QRectF icon(167, slider.top() - 1.5, 12, 12);
        if (isMic)
            glyph::microphone(p, icon, colour::inkSoft);
        else
            glyph::speaker(p, icon, colour::inkSoft);
        text(p, QRectF(183, slider.top() - 4, 72, 16),
             isMic ? QStringLiteral("Mic") : QStringLiteral("Speaker"), font(10), colour::inkSoft);
    }

    // A heading over the column of service buttons, beside the call keys.
    const QRect rate = rectOf(w, "CMDRATE");
    text(p, QRectF(rate.left() + 2, 226, 79, 14), QStringLiteral("SERVICES"), font(9, QFont::Bold),
         colour::inkSoft);
    p.fillRect(QRectF(rate.left() + 2, 243, 77, 1), colour::cardEdge);
    p.end();
    return finish(art);
}

QImage callHistorySkin() {
    const Window& w = callHistoryWindow();
    QImage art = canvas(w.size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    paintBody(p, w.size, 42);
    glyph::clock(p, QRectF(16, 11, 20, 20), colour::bandText);
    text(p, QRectF(44, 8, 200, 26), QStringLiteral("Call History"), font(15, QFont::Bold), colour::bandText);

    // Tab strip behind the three page captions.
    const QRectF tabs(18.5, 46.5, 252, 18);
    panel(p, tabs, 6, vertical(tabs, QColor(0xee, 0xf3, 0xf8), QColor(0xdd, 0xe6, 0xef)), colour::cardEdge);
    const QRect dialed = rectOf(w, "Dialed");
    const QRect received = rectOf(w, "Recieved");
    const QRect missed = rectOf(w, "Missed");
    p.setPen(QPen(colour::cardEdge, 1));
    for (qreal x : {(dialed.right() + received.left()) / 2.0, (received.right() + missed.left()) / 2.0})
        p.drawLine(QPointF(qRound(x) + 0.5, 50), QPointF(qRound(x) + 0.5, 61));

    // The lists lie on top of each other; a frame and a shadow around them.
    const QRect list = duRect(15, 40, 164, 168);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 18));
    p.drawRect(QRectF(list).adjusted(-1, 0, 1, 2));
    p.fillRect(QRectF(list).adjusted(-1, -1, 1, 1), colour::cardEdge);
    p.fillRect(list, Qt::white);
    p.end();
    return finish(art);
}

QImage loginSkin() {
    const Window& w = loginWindow();
    QImage art = canvas(w.size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    paintBody(p, w.size, 68);
    glyph::logo(p, QRectF(18, 15, 38, 38), colour::bandText, colour::bandSoft);
    text(p, QRectF(66, 14, 210, 22), QStringLiteral("Orvane Softphone"), font(16, QFont::Bold),
         colour::bandText);
    text(p, QRectF(66, 35, 210, 18), QStringLiteral("Sign in to your account"), font(11), colour::bandSoft);

    const QRectF form(16.5, 78.5, 255, 108);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 18));
    p.drawRoundedRect(form.translated(0, 1.5), 10, 10);
    panel(p, form, 10, colour::card, colour::cardEdge);
    halo(p, duRect(81, 54, 80, 12), Qt::white);
    halo(p, duRect(81, 77, 80, 12), Qt::white);
    p.end();
    return finish(art);
}

QImage phoneBookSkin() {
    const Window& w = phoneBookWindow();
    QImage art = canvas(w.size);
    QPainter p(&art);
    p.setRenderHint(QPainter::Antialiasing);
    paintBody(p, w.size, 38);
    glyph::book(p, QRectF(16, 9, 20, 20), colour::bandText);
    text(p, QRectF(44, 6, 190, 26), QStringLiteral("Phone Book"), font(15, QFont::Bold), colour::bandText);

    const QRect list = duRect(12, 26, 171, 150);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 18));
    p.drawRect(QRectF(list).adjusted(-1, 0, 1, 2));
    p.fillRect(QRectF(list).adjusted(-1, -1, 1, 1), colour::cardEdge);
    p.fillRect(list, Qt::white);

    halo(p, duRect(69, 179, 85, 14), Qt::white);
    halo(p, duRect(69, 195, 85, 13), Qt::white);
    p.end();
    return finish(art);
}

} // namespace

QImage drawSkin(int id) {
    switch (id) {
    case 355:
        return mainSkin();
    case 332:
        return callHistorySkin();
    case 329:
        return loginSkin();
    case 331:
        return phoneBookSkin();
    default:
        return {};
    }
}

} // namespace gen

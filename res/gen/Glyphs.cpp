#include "Glyphs.h"

#include <QPainterPath>
#include <QtMath>

namespace gen::glyph {

namespace {
// Draws in a unit square centred on the box: coordinates run from -0.5 to 0.5.
struct Unit {
    QPainter& p;
    Unit(QPainter& painter, const QRectF& box) : p(painter) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing, true);
        const qreal s = qMin(box.width(), box.height());
        p.translate(box.center());
        p.scale(s, s);
    }
    ~Unit() { p.restore(); }
    Unit(const Unit&) = delete;
    Unit& operator=(const Unit&) = delete;
};

QPen stroke(QColor c, qreal w, Qt::PenCapStyle cap = Qt::RoundCap) {
    return QPen(c, w, Qt::SolidLine, cap, Qt::RoundJoin);
}

// Built at a scale of 100 so that the path operations, which flatten curves, keep them smooth.
QPainterPath flatHandset() {
    QPainterPath arch;
    arch.moveTo(-35, 4);
    arch.cubicTo(-22, -21, 22, -21, 35, 4);
    QPainterPathStroker s;
    s.setWidth(17);
    s.setCapStyle(Qt::FlatCap);
    QPainterPath shape = s.createStroke(arch);
    for (int side : {-1, 1}) {
        QPainterPath pad;
        pad.addRoundedRect(QRectF(-15, -9, 30, 18), 8, 8);
        QTransform t;
        t.translate(side * 35, 8);
        t.rotate(side * 18);
        shape = shape.united(t.map(pad));
    }
    return shape.simplified();
}
} // namespace

void handset(QPainter& p, const QRectF& box, QColor c, bool lifted) {
    Unit u(p, box);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    if (lifted) {
        p.rotate(-135);
        p.scale(1.05, 1.05);
    } else {
        p.translate(0, 0.04);
    }
    p.scale(0.01, 0.01);
    p.drawPath(flatHandset());
}

void person(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QPointF(0, -0.2), 0.18, 0.18);
    QPainterPath body;
    body.moveTo(-0.36, 0.46);
    body.cubicTo(-0.36, 0.02, 0.36, 0.02, 0.36, 0.46);
    body.closeSubpath();
    p.drawPath(body);
}

void redial(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    const qreal r = 0.3;
    const qreal start = 70;
    QPainterPath arc;
    arc.arcMoveTo(QRectF(-r, -r, 2 * r, 2 * r), start);
    arc.arcTo(QRectF(-r, -r, 2 * r, 2 * r), start, 290);
    p.setPen(stroke(c, 0.11, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    // Arrow head at the start of the arc, pointing on round the circle.
    const qreal a = qDegreesToRadians(start);
    const QPointF at(r * qCos(a), -r * qSin(a));
    const QPointF dir(qSin(a), qCos(a));
    const QPointF perp(-dir.y(), dir.x());
    QPolygonF head{at + dir * 0.2, at + perp * 0.17 - dir * 0.02, at - perp * 0.17 - dir * 0.02};
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPolygon(head);
}

void backspace(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    QPainterPath outline;
    outline.moveTo(-0.48, 0);
    outline.lineTo(-0.18, -0.3);
    outline.lineTo(0.46, -0.3);
    outline.lineTo(0.46, 0.3);
    outline.lineTo(-0.18, 0.3);
    outline.closeSubpath();
    p.setPen(stroke(c, 0.09));
    p.setBrush(Qt::NoBrush);
    p.drawPath(outline);
    p.drawLine(QPointF(0.02, -0.12), QPointF(0.26, 0.12));
    p.drawLine(QPointF(0.02, 0.12), QPointF(0.26, -0.12));
}

void power(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(stroke(c, 0.11));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(-0.34, -0.3, 0.68, 0.68), 125 * 16, 290 * 16);
    p.drawLine(QPointF(0, -0.44), QPointF(0, -0.02));
}

void speaker(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    QPolygonF cone{{-0.46, -0.14}, {-0.26, -0.14}, {0.0, -0.38}, {0.0, 0.38}, {-0.26, 0.14}, {-0.46, 0.14}};
    p.drawPolygon(cone);
    p.setPen(stroke(c, 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(-0.14, -0.2, 0.4, 0.4), -50 * 16, 100 * 16);
    p.drawArc(QRectF(-0.26, -0.38, 0.74, 0.76), -50 * 16, 100 * 16);
}

void microphone(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(-0.14, -0.48, 0.28, 0.56), 0.14, 0.14);
    p.setPen(stroke(c, 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(-0.28, -0.3, 0.56, 0.56), 0, -180 * 16);
    p.drawLine(QPointF(0, 0.26), QPointF(0, 0.44));
    p.drawLine(QPointF(-0.16, 0.45), QPointF(0.16, 0.45));
}

void book(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(stroke(c, 0.08));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-0.32, -0.44, 0.66, 0.88), 0.08, 0.08);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRect(QRectF(-0.32, -0.44, 0.16, 0.88));
    p.drawEllipse(QPointF(0.1, -0.1), 0.09, 0.09);
    QPainterPath shoulders;
    shoulders.moveTo(-0.06, 0.2);
    shoulders.cubicTo(-0.06, 0.0, 0.26, 0.0, 0.26, 0.2);
    shoulders.closeSubpath();
    p.drawPath(shoulders);
}

void clock(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(stroke(c, 0.09));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(0, 0), 0.42, 0.42);
    p.drawLine(QPointF(0, 0), QPointF(0, -0.26));
    p.drawLine(QPointF(0, 0), QPointF(0.19, 0.1));
}

void tag(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.rotate(-45);
    QPainterPath t;
    t.moveTo(-0.5, 0);
    t.lineTo(-0.26, -0.22);
    t.lineTo(0.42, -0.22);
    t.lineTo(0.42, 0.22);
    t.lineTo(-0.26, 0.22);
    t.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(QPointF(-0.2, 0), 0.07, 0.07);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawPath(t.subtracted(hole));
}

void headset(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(stroke(c, 0.09));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(-0.38, -0.42, 0.76, 0.8), 0, 180 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(-0.46, -0.04, 0.2, 0.36), 0.07, 0.07);
    p.drawRoundedRect(QRectF(0.26, -0.04, 0.2, 0.36), 0.07, 0.07);
    p.setPen(stroke(c, 0.07));
    p.setBrush(Qt::NoBrush);
    QPainterPath boom;
    boom.moveTo(0.36, 0.3);
    boom.quadTo(0.3, 0.46, 0.04, 0.44);
    p.drawPath(boom);
}

void list(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    for (int i = 0; i < 3; ++i) {
        const qreal y = -0.3 + i * 0.3;
        p.setPen(Qt::NoPen);
        p.setBrush(c);
        p.drawEllipse(QPointF(-0.36, y), 0.07, 0.07);
        p.setPen(stroke(c, 0.1));
        p.drawLine(QPointF(-0.16, y), QPointF(0.42, y));
    }
}

void signal(QPainter& p, const QRectF& box, QColor c, QColor dim, int lit) {
    Unit u(p, box);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        const qreal h = 0.25 + i * 0.24;
        p.setBrush(i < lit ? c : dim);
        p.drawRoundedRect(QRectF(-0.48 + i * 0.26, 0.48 - h, 0.18, h), 0.04, 0.04);
    }
}

void cross(QPainter& p, const QRectF& box, QColor c, qreal width) {
    Unit u(p, box);
    p.setPen(stroke(c, width));
    p.drawLine(QPointF(-0.32, -0.32), QPointF(0.32, 0.32));
    p.drawLine(QPointF(-0.32, 0.32), QPointF(0.32, -0.32));
}

void minus(QPainter& p, const QRectF& box, QColor c, qreal width) {
    Unit u(p, box);
    p.setPen(stroke(c, width));
    p.drawLine(QPointF(-0.34, 0), QPointF(0.34, 0));
}

void plus(QPainter& p, const QRectF& box, QColor c, qreal width) {
    Unit u(p, box);
    p.setPen(stroke(c, width));
    p.drawLine(QPointF(-0.36, 0), QPointF(0.36, 0));
    p.drawLine(QPointF(0, -0.36), QPointF(0, 0.36));
}

void pencil(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.rotate(45);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRect(QRectF(-0.12, -0.48, 0.24, 0.62));
    p.drawPolygon(QPolygonF{{-0.12, 0.2}, {0.12, 0.2}, {0, 0.46}});
}

void bin(QPainter& p, const QRectF& box, QColor c) {
    Unit u(p, box);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(-0.42, -0.36, 0.84, 0.1), 0.03, 0.03);
    p.drawRect(QRectF(-0.12, -0.46, 0.24, 0.1));
    QPainterPath body;
    body.moveTo(-0.32, -0.2);
    body.lineTo(0.32, -0.2);
    body.lineTo(0.26, 0.46);
    body.lineTo(-0.26, 0.46);
    body.closeSubpath();
    p.drawPath(body);
}

void logo(QPainter& p, const QRectF& box, QColor ring, QColor waves) {
    Unit u(p, box);
    p.setPen(stroke(ring, 0.1));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(0, 0), 0.44, 0.44);
    p.setPen(stroke(waves, 0.09));
    const qreal heights[] = {0.14, 0.34, 0.5, 0.28, 0.16};
    for (int i = 0; i < 5; ++i) {
        const qreal x = -0.22 + i * 0.11;
        p.drawLine(QPointF(x, -heights[i] / 2), QPointF(x, heights[i] / 2));
    }
}

} // namespace gen::glyph

#include "resources/panel_glyphs.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace volmar {

namespace {

enum TDoorLook { dlGrey, dlClosed, dlOpen };

// The colours of one frame: a grey frame shows the door's shape only.
struct TPalette {
    QColor Cabinet, Door, DoorDark, Metal, Accent;
};

TPalette PaletteFor(TDoorLook Look, QColor Accent) {
    if (Look == dlGrey)
        return {QColor(150, 150, 150), QColor(185, 185, 185), QColor(130, 130, 130),
                QColor(205, 205, 205), QColor(165, 165, 165)};
    return {QColor(45, 45, 60), QColor(70, 95, 150), QColor(40, 55, 95), QColor(215, 215, 225),
            Accent};
}

// What each door guards, drawn on its face.
void DrawEmblem(QPainter& P, TDoorStrip Door, const QRectF& Face, const TPalette& C) {
    P.setPen(Qt::NoPen);
    P.setBrush(C.Accent);
    const QPointF c = Face.center();
    switch (Door) {
    case dsCashDoor: {
        // A coin slot above a stack of coins.
        P.drawRoundedRect(QRectF(c.x() - 9, Face.top() + 8, 18, 4), 2, 2);
        for (int i = 0; i < 3; ++i)
            P.drawEllipse(QRectF(c.x() - 8, c.y() + 4 - i * 5, 16, 7));
        break;
    }
    case dsBackDoor: {
        // Service louvres.
        for (int i = 0; i < 4; ++i)
            P.drawRect(QRectF(Face.left() + 6, Face.top() + 8 + i * 7, Face.width() - 22, 3));
        break;
    }
    case dsSideDoor: {
        // A payout tray.
        QPainterPath tray;
        tray.moveTo(Face.left() + 7, c.y() + 2);
        tray.lineTo(Face.right() - 7, c.y() + 2);
        tray.lineTo(Face.right() - 11, c.y() + 14);
        tray.lineTo(Face.left() + 11, c.y() + 14);
        tray.closeSubpath();
        P.drawPath(tray);
        break;
    }
    }
}

void DrawLock(QPainter& P, const QPointF& At, const TPalette& C) {
    P.setPen(QPen(C.DoorDark, 1));
    P.setBrush(C.Metal);
    P.drawEllipse(At, 3.5, 3.5);
    P.setPen(QPen(C.DoorDark, 1.2));
    P.drawLine(At + QPointF(0, -2), At + QPointF(0, 2));
}

// The inside of an open cabinet: what the door protects.
void DrawInside(QPainter& P, TDoorStrip Door, const QRectF& Opening) {
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(20, 20, 25));
    P.drawRect(Opening);
    const QPointF c = Opening.center();
    switch (Door) {
    case dsCashDoor:
        // The cash box, full of coins.
        P.setBrush(QColor(110, 110, 120));
        P.drawRect(QRectF(Opening.left() + 5, c.y() - 2, Opening.width() - 10, 18));
        P.setBrush(QColor(235, 190, 50));
        for (int i = 0; i < 4; ++i)
            P.drawEllipse(QRectF(Opening.left() + 7 + i * 7, c.y() - 6, 7, 5));
        break;
    case dsBackDoor:
        // A circuit board with chips.
        P.setBrush(QColor(30, 120, 60));
        P.drawRect(Opening.adjusted(4, 5, -4, -5));
        P.setBrush(QColor(25, 25, 25));
        for (int i = 0; i < 3; ++i) P.drawRect(QRectF(Opening.left() + 8 + i * 10, c.y() - 8, 6, 9));
        P.setPen(QPen(QColor(220, 190, 90), 1));
        P.drawLine(QPointF(Opening.left() + 7, c.y() + 7), QPointF(Opening.right() - 7, c.y() + 7));
        break;
    case dsSideDoor:
        // The hopper with its coins.
        P.setBrush(QColor(150, 150, 160));
        QPainterPath hopper;
        hopper.moveTo(Opening.left() + 5, Opening.top() + 6);
        hopper.lineTo(Opening.right() - 5, Opening.top() + 6);
        hopper.lineTo(c.x() + 5, Opening.bottom() - 6);
        hopper.lineTo(c.x() - 5, Opening.bottom() - 6);
        hopper.closeSubpath();
        P.drawPath(hopper);
        P.setBrush(QColor(235, 190, 50));
        for (int i = 0; i < 3; ++i) P.drawEllipse(QRectF(c.x() - 10 + i * 7, Opening.top() + 8, 6, 5));
        break;
    }
}

void DrawDoorFrame(QPainter& P, TDoorStrip Door, TDoorLook Look, int Left) {
    static const QColor accents[3] = {QColor(235, 190, 50), QColor(200, 200, 210), QColor(235, 190, 50)};
    const TPalette c = PaletteFor(Look, accents[Door]);
    const QRectF cell(Left, 0, kDoorFrameSize, kDoorFrameSize);
    const QRectF cabinet = cell.adjusted(4, 2, -4, -2);
    P.setPen(QPen(c.DoorDark, 1));
    P.setBrush(c.Cabinet);
    P.drawRect(cabinet);
    const QRectF opening = cabinet.adjusted(5, 5, -5, -5);

    if (Look == dlOpen) {
        DrawInside(P, Door, opening);
        // The door swung out to the left, seen edge-on in perspective.
        QPainterPath swung;
        swung.moveTo(opening.left(), opening.top());
        swung.lineTo(opening.left() - 3, opening.top() - 3);
        swung.lineTo(opening.left() - 3, opening.bottom() + 3);
        swung.lineTo(opening.left(), opening.bottom());
        swung.closeSubpath();
        P.setPen(QPen(c.DoorDark, 1));
        P.setBrush(c.Door);
        QPainterPath leaf;
        leaf.moveTo(opening.left(), opening.top());
        leaf.lineTo(cell.left() + 1, opening.top() + 6);
        leaf.lineTo(cell.left() + 1, opening.bottom() - 6);
        leaf.lineTo(opening.left(), opening.bottom());
        leaf.closeSubpath();
        P.drawPath(leaf);
        return;
    }

    QLinearGradient shade(opening.topLeft(), opening.bottomRight());
    shade.setColorAt(0, c.Door.lighter(115));
    shade.setColorAt(1, c.Door.darker(115));
    P.setBrush(shade);
    P.drawRect(opening);
    DrawEmblem(P, Door, opening, c);
    const double lockY = Door == dsSideDoor ? opening.top() + 10 : opening.center().y();
    DrawLock(P, QPointF(opening.right() - 6, lockY), c);
}

void DrawKeyFrame(QPainter& P, bool On, int Left) {
    const QColor metal = On ? QColor(240, 200, 30) : QColor(160, 160, 160);
    const QColor edge = On ? QColor(140, 100, 0) : QColor(95, 95, 95);
    P.setPen(QPen(edge, 1.2));
    P.setBrush(metal);
    // Bow with its hole, then the shaft and the bit.
    const QPointF bow(Left + 9.5, 16);
    QPainterPath key;
    key.addEllipse(bow, 7, 7);
    key.addRect(QRectF(Left + 15, 14, 14, 4));
    key.addRect(QRectF(Left + 22, 18, 3, 5));
    key.addRect(QRectF(Left + 26, 18, 3, 4));
    key.setFillRule(Qt::WindingFill);
    P.drawPath(key.simplified());
    P.setBrush(QColor(0, 0, 0, 0));
    P.setPen(QPen(edge, 1.2));
    P.drawEllipse(bow, 2.5, 2.5);
}

QImage Strip(int Frames, int Size) {
    QImage strip(Frames * Size, Size, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    return strip;
}

} // namespace

QImage DoorStrip(TDoorStrip Door) {
    QImage strip = Strip(3, kDoorFrameSize);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int frame = 0; frame < 3; ++frame)
        DrawDoorFrame(painter, Door, static_cast<TDoorLook>(frame), frame * kDoorFrameSize);
    return strip;
}

QImage KeyStrip() {
    QImage strip = Strip(2, kKeyFrameSize);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawKeyFrame(painter, false, 0);
    DrawKeyFrame(painter, true, kKeyFrameSize);
    return strip;
}

} // namespace volmar

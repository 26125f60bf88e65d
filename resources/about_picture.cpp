#include "resources/about_picture.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>

namespace volmar {

namespace {

const QColor kGold(255, 206, 64);
const QColor kGoldDark(150, 98, 18);

void DrawBackground(QPainter& P, const QRectF& R) {
    QLinearGradient ground(R.topLeft(), R.topRight());
    ground.setColorAt(0.0, QColor(64, 10, 58));
    ground.setColorAt(0.4, QColor(30, 10, 52));
    ground.setColorAt(1.0, QColor(6, 6, 20));
    P.fillRect(R, ground);

    // Warm light behind the reels, as from a machine's top box.
    QRadialGradient glow(QPointF(80, 42), 150);
    glow.setColorAt(0.0, QColor(255, 110, 40, 90));
    glow.setColorAt(1.0, QColor(255, 110, 40, 0));
    P.fillRect(R, glow);

    // Faint rays fanning out from the reels.
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(255, 210, 120, 14));
    const QPointF hub(80, 42);
    for (int i = 0; i < 12; ++i) {
        const double a = -0.5 + i * 0.19, spread = 0.05;
        QPainterPath ray;
        ray.moveTo(hub);
        ray.lineTo(hub + QPointF(std::cos(a - spread), std::sin(a - spread)) * 700);
        ray.lineTo(hub + QPointF(std::cos(a + spread), std::sin(a + spread)) * 700);
        ray.closeSubpath();
        P.drawPath(ray);
    }

    // A gloss over the upper half.
    QLinearGradient gloss(R.topLeft(), QPointF(R.left(), R.top() + 50));
    gloss.setColorAt(0.0, QColor(255, 255, 255, 26));
    gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
    P.fillRect(QRectF(R.left(), R.top(), R.width(), 50), gloss);
}

// Marquee bulbs along one edge, every other one lit.
void DrawBulbs(QPainter& P, double Y, double Width) {
    int n = 0;
    for (double x = 7; x < Width - 4; x += 11, ++n) {
        const bool lit = n % 2 == 0;
        if (lit) {
            QRadialGradient halo(QPointF(x, Y), 5);
            halo.setColorAt(0.0, QColor(255, 230, 120, 150));
            halo.setColorAt(1.0, QColor(255, 230, 120, 0));
            P.setPen(Qt::NoPen);
            P.setBrush(halo);
            P.drawEllipse(QPointF(x, Y), 5, 5);
        }
        P.setPen(QPen(QColor(60, 30, 10), 0.6));
        P.setBrush(lit ? QColor(255, 236, 150) : QColor(120, 82, 30));
        P.drawEllipse(QPointF(x, Y), 1.9, 1.9);
    }
}

void DrawSeven(QPainter& P, const QPointF& C, double S) {
    QPainterPath seven;
    seven.moveTo(C + QPointF(-9, -11) * S);
    seven.lineTo(C + QPointF(9, -11) * S);
    seven.lineTo(C + QPointF(9, -7) * S);
    seven.lineTo(C + QPointF(0, 11) * S);
    seven.lineTo(C + QPointF(-6, 11) * S);
    seven.lineTo(C + QPointF(3, -6) * S);
    seven.lineTo(C + QPointF(-9, -6) * S);
    seven.closeSubpath();
    P.setPen(QPen(QColor(90, 0, 0), 1.2));
    QLinearGradient red(C + QPointF(0, -11) * S, C + QPointF(0, 11) * S);
    red.setColorAt(0.0, QColor(255, 80, 70));
    red.setColorAt(1.0, QColor(170, 0, 10));
    P.setBrush(red);
    P.drawPath(seven);
}

void DrawCherries(QPainter& P, const QPointF& C, double S) {
    P.setPen(QPen(QColor(40, 110, 20), 1.6 * S));
    P.setBrush(Qt::NoBrush);
    QPainterPath stems;
    stems.moveTo(C + QPointF(-6, 4) * S);
    stems.quadTo(C + QPointF(-3, -6) * S, C + QPointF(4, -10) * S);
    stems.moveTo(C + QPointF(6, 5) * S);
    stems.quadTo(C + QPointF(5, -4) * S, C + QPointF(4, -10) * S);
    P.drawPath(stems);
    P.setBrush(QColor(60, 150, 30));
    P.setPen(Qt::NoPen);
    P.drawEllipse(C + QPointF(7, -10) * S, 4 * S, 2 * S);
    for (const QPointF& at : {C + QPointF(-6, 6) * S, C + QPointF(6, 7) * S}) {
        QRadialGradient cherry(at + QPointF(-1.5, -1.5) * S, 6 * S);
        cherry.setColorAt(0.0, QColor(255, 120, 120));
        cherry.setColorAt(0.5, QColor(210, 10, 30));
        cherry.setColorAt(1.0, QColor(110, 0, 10));
        P.setBrush(cherry);
        P.drawEllipse(at, 5.5 * S, 5.5 * S);
    }
}

void DrawBar(QPainter& P, const QPointF& C, double S) {
    const QRectF plate(C.x() - 15 * S, C.y() - 7 * S, 30 * S, 14 * S);
    P.setPen(QPen(QColor(20, 20, 20), 1));
    P.setBrush(QColor(25, 25, 30));
    P.drawRoundedRect(plate, 2 * S, 2 * S);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(std::max(1, static_cast<int>(10 * S)));
    font.setBold(true);
    P.setFont(font);
    P.setPen(QColor(255, 240, 200));
    P.drawText(plate, Qt::AlignCenter, QStringLiteral("BAR"));
}

using TSymbol = void (*)(QPainter&, const QPointF&, double);

void DrawReels(QPainter& P) {
    const QRectF cabinet(10, 12, 140, 60);
    QLinearGradient chrome(cabinet.topLeft(), cabinet.bottomLeft());
    chrome.setColorAt(0.0, QColor(235, 235, 240));
    chrome.setColorAt(0.5, QColor(120, 120, 130));
    chrome.setColorAt(1.0, QColor(210, 210, 220));
    P.setPen(QPen(QColor(30, 20, 30), 1));
    P.setBrush(chrome);
    P.drawRoundedRect(cabinet, 6, 6);
    P.setBrush(QColor(20, 14, 20));
    P.drawRoundedRect(cabinet.adjusted(4, 4, -4, -4), 3, 3);

    // Each reel shows its symbol on the line, and the neighbours cut off
    // above and below, shaded like a turning drum.
    const TSymbol symbols[] = {DrawSeven, DrawCherries, DrawBar};
    for (int reel = 0; reel < 3; ++reel) {
        const QRectF face(17 + reel * 43, 18, 40, 48);
        QLinearGradient drum(face.topLeft(), face.bottomLeft());
        drum.setColorAt(0.0, QColor(90, 90, 95));
        drum.setColorAt(0.22, QColor(228, 226, 220));
        drum.setColorAt(0.5, QColor(255, 253, 245));
        drum.setColorAt(0.78, QColor(228, 226, 220));
        drum.setColorAt(1.0, QColor(90, 90, 95));
        P.setPen(Qt::NoPen);
        P.setBrush(drum);
        P.drawRect(face);
        P.save();
        P.setClipRect(face);
        const QPointF centre = face.center();
        symbols[reel](P, centre, 1.0);
        symbols[(reel + 1) % 3](P, centre + QPointF(0, -27), 0.8);
        symbols[(reel + 2) % 3](P, centre + QPointF(0, 27), 0.8);
        // The drum's curve darkens the symbols at the edges too.
        QLinearGradient shade(face.topLeft(), face.bottomLeft());
        shade.setColorAt(0.0, QColor(0, 0, 0, 150));
        shade.setColorAt(0.3, QColor(0, 0, 0, 0));
        shade.setColorAt(0.7, QColor(0, 0, 0, 0));
        shade.setColorAt(1.0, QColor(0, 0, 0, 150));
        P.fillRect(face, shade);
        P.restore();
    }

    // The pay line, with its arrows on the cabinet.
    const double y = 42;
    P.setPen(QPen(QColor(255, 40, 40, 200), 1.2));
    P.drawLine(QPointF(16, y), QPointF(144, y));
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(255, 60, 50));
    P.drawPolygon(QPolygonF({QPointF(10, y - 4), QPointF(16, y), QPointF(10, y + 4)}));
    P.drawPolygon(QPolygonF({QPointF(150, y - 4), QPointF(144, y), QPointF(150, y + 4)}));
}

// A row of meter drums in a bezel, like the machine's mechanical counters.
void DrawMeter(QPainter& P) {
    const char digits[] = "0012500";
    const int count = sizeof digits - 1;
    const QRectF bezel(162, 24, count * 14 + 6, 34);
    QLinearGradient rim(bezel.topLeft(), bezel.bottomLeft());
    rim.setColorAt(0.0, QColor(200, 200, 210));
    rim.setColorAt(1.0, QColor(70, 70, 80));
    P.setPen(QPen(QColor(20, 20, 25), 1));
    P.setBrush(rim);
    P.drawRoundedRect(bezel, 3, 3);
    P.setBrush(QColor(10, 10, 12));
    P.drawRect(bezel.adjusted(3, 3, -3, -3));

    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(17);
    font.setBold(true);
    P.setFont(font);
    for (int i = 0; i < count; ++i) {
        const QRectF drum(bezel.left() + 4 + i * 14, bezel.top() + 4, 12, bezel.height() - 8);
        QLinearGradient shade(drum.topLeft(), drum.bottomLeft());
        shade.setColorAt(0.0, QColor(15, 15, 18));
        shade.setColorAt(0.5, QColor(70, 70, 78));
        shade.setColorAt(1.0, QColor(15, 15, 18));
        P.setPen(Qt::NoPen);
        P.setBrush(shade);
        P.drawRect(drum);
        P.setPen(QColor(245, 245, 245));
        P.drawText(drum, Qt::AlignCenter, QString(QLatin1Char(digits[i])));
    }
    // Glass over the drums.
    QLinearGradient glass(bezel.topLeft(), bezel.bottomLeft());
    glass.setColorAt(0.0, QColor(255, 255, 255, 60));
    glass.setColorAt(0.45, QColor(255, 255, 255, 10));
    glass.setColorAt(0.5, QColor(255, 255, 255, 0));
    P.fillRect(bezel.adjusted(3, 3, -3, -3), glass);

    QFont label(QStringLiteral("DejaVu Sans"));
    label.setPixelSize(8);
    label.setBold(true);
    P.setFont(label);
    P.setPen(kGold);
    P.drawText(QRectF(bezel.left(), bezel.bottom() + 2, bezel.width(), 10), Qt::AlignCenter,
               QStringLiteral("C R E D I T S"));
}

void DrawCoin(QPainter& P, const QPointF& C, double Rx, double Ry) {
    // The coin's edge, then its face.
    P.setPen(QPen(kGoldDark.darker(140), 0.7));
    P.setBrush(kGoldDark);
    P.drawEllipse(C + QPointF(0, 1.5), Rx, Ry);
    QLinearGradient face(C - QPointF(Rx, 0), C + QPointF(Rx, 0));
    face.setColorAt(0.0, QColor(200, 140, 30));
    face.setColorAt(0.4, QColor(255, 228, 120));
    face.setColorAt(1.0, QColor(190, 130, 25));
    P.setBrush(face);
    P.drawEllipse(C, Rx, Ry);
    P.setPen(QPen(QColor(170, 110, 20), 0.6));
    P.setBrush(Qt::NoBrush);
    P.drawEllipse(C, Rx * 0.72, Ry * 0.65);
}

void DrawCoins(QPainter& P) {
    const struct {
        double X;
        int Height;
    } stacks[] = {{268, 4}, {292, 7}, {316, 5}};
    const double base = 70;
    for (const auto& s : stacks)
        for (int i = 0; i < s.Height; ++i)
            DrawCoin(P, QPointF(s.X, base - i * 4), 11, 3.5);

    // One coin standing upright before the stacks, stamped with a V.
    const QPointF c(346, 56);
    QRadialGradient face(c + QPointF(-4, -4), 16);
    face.setColorAt(0.0, QColor(255, 240, 160));
    face.setColorAt(0.6, QColor(240, 180, 50));
    face.setColorAt(1.0, QColor(160, 100, 15));
    P.setPen(QPen(kGoldDark.darker(130), 1));
    P.setBrush(face);
    P.drawEllipse(c, 14, 14);
    P.setPen(QPen(QColor(180, 120, 20), 1));
    P.setBrush(Qt::NoBrush);
    P.drawEllipse(c, 11, 11);
    QPainterPath v;
    v.moveTo(c + QPointF(-6, -6));
    v.lineTo(c + QPointF(0, 6));
    v.lineTo(c + QPointF(6, -6));
    P.setPen(QPen(QColor(150, 90, 10), 2.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.drawPath(v);
    P.setPen(QPen(QColor(255, 245, 190), 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    P.drawPath(v.translated(-0.8, -0.8));

    // A glint on the standing coin.
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(255, 255, 255, 200));
    P.drawEllipse(c + QPointF(-6, -7), 1.6, 1.6);
}

// A thin gold rule above the bottom line, fading out to the left.
void DrawRule(QPainter& P) {
    QLinearGradient rule(QPointF(170, 0), QPointF(560, 0));
    rule.setColorAt(0.0, QColor(255, 206, 64, 0));
    rule.setColorAt(0.4, QColor(255, 206, 64, 170));
    rule.setColorAt(1.0, QColor(255, 206, 64, 220));
    P.fillRect(QRectF(170, 84, 390, 1), rule);
}

} // namespace

QImage AboutPicture() {
    QImage image(kAboutPictureWidth, kAboutPictureHeight, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QRectF all(0, 0, kAboutPictureWidth, kAboutPictureHeight);
    DrawBackground(p, all);
    DrawBulbs(p, 4, all.width());
    DrawBulbs(p, all.height() - 4, all.width());
    DrawReels(p);
    DrawMeter(p);
    DrawCoins(p);
    DrawRule(p);
    return image;
}

QImage AboutCloseGlyph() {
    QImage image(kAboutGlyphWidth, kAboutGlyphHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF plate(0.5, 0.5, kAboutGlyphWidth - 1, kAboutGlyphHeight - 1);
    QLinearGradient face(plate.topLeft(), plate.bottomLeft());
    face.setColorAt(0.0, QColor(150, 20, 30));
    face.setColorAt(1.0, QColor(70, 5, 15));
    p.setPen(QPen(kGold, 1));
    p.setBrush(face);
    p.drawRoundedRect(plate, 4, 4);

    QPainterPath check;
    check.moveTo(7, 9);
    check.lineTo(10.5, 12.5);
    check.lineTo(17, 5);
    p.setPen(QPen(QColor(120, 255, 120), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(check);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(255, 240, 200));
    p.drawText(QRectF(19, 0, kAboutGlyphWidth - 22, kAboutGlyphHeight), Qt::AlignCenter,
               QStringLiteral("OK"));
    return image;
}

} // namespace volmar

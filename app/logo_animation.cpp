#include "app/logo_animation.h"

#include <QPainter>

#include <cmath>
#include <numbers>

namespace volmar {

namespace {
constexpr int kFrames = 24;
constexpr int kFrameMs = 80;
} // namespace

TLogoAnimation::TLogoAnimation(QWidget* Parent) : QWidget(Parent) {
    setFixedSize(51, 40);
    FTimer.setInterval(kFrameMs);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        FFrame = (FFrame + 1) % kFrames;
        update();
    });
}

void TLogoAnimation::Start() { FTimer.start(); }

void TLogoBand::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), Colour()); }

void TLogoAnimation::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), TLogoBand::Colour());
    painter.setRenderHint(QPainter::Antialiasing);
    const double angle = 2.0 * std::numbers::pi * FFrame / kFrames;
    const double squeeze = std::abs(std::cos(angle));
    const QRectF coin(25.5 - 16.0 * squeeze, 4.0, 32.0 * squeeze + 1.0, 32.0);
    painter.setPen(QPen(QColor(120, 90, 0), 1.5));
    painter.setBrush(std::cos(angle) >= 0 ? QColor(240, 200, 40) : QColor(200, 160, 30));
    painter.drawEllipse(coin);
    if (squeeze > 0.35) {
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(18);
        painter.setFont(font);
        painter.setPen(QColor(120, 90, 0));
        painter.save();
        painter.translate(25.5, 20.0);
        painter.scale(squeeze, 1.0);
        painter.drawText(QRectF(-12, -12, 24, 24), Qt::AlignCenter, QStringLiteral("V"));
        painter.restore();
    }
}

} // namespace volmar

#include "app/logo_animation.h"

#include <QPainter>

#include <cmath>
#include <numbers>

#include "widgets/paced_repaints.h"

namespace volmar {

namespace {
constexpr int kFrameMs = 80;
} // namespace

TLogoAnimation::TLogoAnimation(QWidget* Parent) : QWidget(Parent) {
    setFixedSize(51, 40);
    // Every frame covers the whole band: what lies behind need not be drawn.
    setAttribute(Qt::WA_OpaquePaintEvent);
    FTimer.setInterval(kFrameMs);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        FFrame = (FFrame + 1) % kFrames;
        // With the meters' drums, so that the two make one repaint.
        TPacedRepaints::Add(this, rect());
    });
}

void TLogoAnimation::Start() { FTimer.start(); }

void TLogoBand::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), Colour()); }

void TLogoAnimation::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    if (ratio != FFramesRatio) {
        FFramesRatio = ratio;
        for (int i = 0; i < kFrames; ++i) {
            QPixmap frame(size() * ratio);
            frame.setDevicePixelRatio(ratio);
            QPainter painter(&frame);
            DrawFrame(painter, i);
            FFrames[static_cast<std::size_t>(i)] = frame;
        }
    }
    QPainter(this).drawPixmap(0, 0, FFrames[static_cast<std::size_t>(FFrame)]);
}

void TLogoAnimation::DrawFrame(QPainter& Painter, int Frame) const {
    Painter.fillRect(rect(), TLogoBand::Colour());
    Painter.setRenderHint(QPainter::Antialiasing);
    const double angle = 2.0 * std::numbers::pi * Frame / kFrames;
    const double squeeze = std::abs(std::cos(angle));
    const QRectF coin(25.5 - 16.0 * squeeze, 4.0, 32.0 * squeeze + 1.0, 32.0);
    Painter.setPen(QPen(QColor(120, 90, 0), 1.5));
    Painter.setBrush(std::cos(angle) >= 0 ? QColor(240, 200, 40) : QColor(200, 160, 30));
    Painter.drawEllipse(coin);
    if (squeeze > 0.35) {
        QFont font = this->font();
        font.setBold(true);
        font.setPixelSize(18);
        Painter.setFont(font);
        Painter.setPen(QColor(120, 90, 0));
        Painter.save();
        Painter.translate(25.5, 20.0);
        Painter.scale(squeeze, 1.0);
        Painter.drawText(QRectF(-12, -12, 24, 24), Qt::AlignCenter, QStringLiteral("V"));
        Painter.restore();
    }
}

} // namespace volmar

#include "serial/ui/status_light.h"

#include <QImage>
#include <QPainter>

#include "widgets/paced_repaints.h"

namespace volmar {

namespace {
constexpr int kPlainSize = 13;
} // namespace

TStatusLight::TStatusLight(QWidget* Parent) : QWidget(Parent) {
    // A plain lamp covers all of itself, so its parent need not paint first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(kPlainSize, kPlainSize);
}

void TStatusLight::Invalidate() {
    ++FRepaintRequests;
    // The traffic lamps blink with every message: they repaint together
    // with the turning drums rather than in repaints of their own.
    TPacedRepaints::Add(this, rect());
}

void TStatusLight::SetLit(bool Value) {
    if (Value == FLit) return;
    FLit = Value;
    Invalidate();
}

void TStatusLight::SetLitColor(const QColor& Value) {
    FLitColor = Value;
    if (!HasGlyph() && FLit) Invalidate();
}

void TStatusLight::SetNotLitColor(const QColor& Value) {
    FNotLitColor = Value;
    if (!HasGlyph() && !FLit) Invalidate();
}

void TStatusLight::SetGlyph(const QPixmap& Value) {
    FGlyph = Value;
    setAttribute(Qt::WA_OpaquePaintEvent, !HasGlyph());
    if (HasGlyph()) {
        FTransparent = FGlyph.toImage().pixel(0, 0);
        // A fixed size also holds the lamp there against later resizes.
        setFixedSize(FGlyph.width() / 2, FGlyph.height());
    } else {
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(kPlainSize, kPlainSize);
    }
    Invalidate();
}

void TStatusLight::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = width();
    const int h = height();
    if (!HasGlyph()) {
        painter.fillRect(rect(), FLit ? FLitColor : FNotLitColor);
        painter.setPen(QColor(255, 255, 255));
        painter.drawLine(0, 0, w - 1, 0);
        painter.drawLine(0, 0, 0, h - 1);
        painter.setPen(QColor(128, 128, 128));
        painter.drawLine(w - 1, 1, w - 1, h - 1);
        painter.drawLine(1, h - 1, w - 1, h - 1);
        return;
    }
    const int half = FGlyph.width() / 2;
    QImage image = FGlyph.toImage()
                       .copy(FLit ? 0 : half, 0, half, FGlyph.height())
                       .convertToFormat(QImage::Format_ARGB32);
    // The transparent colour shows the parent's background.
    const QWidget* back = parentWidget() ? parentWidget() : this;
    const QRgb background = back->palette().color(back->backgroundRole()).rgba();
    const QRgb key = FTransparent | 0xFF000000u;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] | 0xFF000000u) == key) line[x] = background;
    }
    painter.drawImage(0, 0, image);
}

} // namespace volmar

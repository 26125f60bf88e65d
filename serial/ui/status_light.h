// TStatusLight: a small square lamp with a lit and an unlit colour, or a
// two-image glyph (lit image on the left half, unlit on the right).
#pragma once

#include <QColor>
#include <QPixmap>
#include <QWidget>

namespace volmar {

class TStatusLight : public QWidget {
public:
    explicit TStatusLight(QWidget* Parent = nullptr);

    bool Lit() const { return FLit; }
    // A change repaints; the same value does nothing.
    void SetLit(bool Value);
    QColor LitColor() const { return FLitColor; }
    // Repaints only when the colour is on show (no glyph, lit).
    void SetLitColor(const QColor& Value);
    QColor NotLitColor() const { return FNotLitColor; }
    // Repaints only when the colour is on show (no glyph, unlit).
    void SetNotLitColor(const QColor& Value);
    const QPixmap& Glyph() const { return FGlyph; }
    // Copies the picture. With one, the lamp is half its width by its height
    // and cannot be resized; the colour of its top-left pixel is transparent.
    // An empty picture returns the lamp to 13 x 13.
    void SetGlyph(const QPixmap& Value);
    bool HasGlyph() const { return !FGlyph.isNull(); }

    // How many times the lamp asked to be repainted.
    int RepaintRequests() const { return FRepaintRequests; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    void Invalidate();

    bool FLit = false;
    QColor FLitColor{255, 0, 0};
    QColor FNotLitColor{0, 128, 0};
    QPixmap FGlyph;
    QRgb FTransparent = 0;
    int FRepaintRequests = 0;
};

} // namespace volmar

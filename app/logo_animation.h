// The tool bar's logo: a coin turning in the 51 by 40 band, drawn by the
// program itself.
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>

class QPainter;

namespace volmar {

class TLogoAnimation : public QWidget {
    Q_OBJECT
public:
    explicit TLogoAnimation(QWidget* Parent = nullptr);
    void Start();
    bool Active() const { return FTimer.isActive(); }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    static constexpr int kFrames = 24;
    void DrawFrame(QPainter& Painter, int Frame) const;

    QTimer FTimer;
    int FFrame = 0;
    // Each frame drawn once: drawing the coin and its letter every frame held
    // the thread that answers the machine for over 100 microseconds.
    std::array<QPixmap, kFrames> FFrames;
    qreal FFramesRatio = 0;
};

// The teal band the logo sits in. Painted, since a palette fill is ignored
// for a widget inside a tool bar under some styles (Fusion).
class TLogoBand : public QWidget {
public:
    using QWidget::QWidget;
    static QColor Colour() { return QColor(0, 128, 128); }

protected:
    void paintEvent(QPaintEvent* Event) override;
};

} // namespace volmar

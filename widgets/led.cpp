#include "widgets/led.h"

#include <QPainter>
#include <QTimer>

#include <cstdint>

namespace volmar {

namespace {

// A * B / C rounded to the nearest integer, halves up (all three are
// never negative here).
int MulDiv(int A, int B, int C) {
    const std::int64_t product = static_cast<std::int64_t>(A) * B;
    return static_cast<int>((product + C / 2) / C);
}

} // namespace

TLED::TLED(QWidget* Parent) : QWidget(Parent), FTimer(new QTimer(this)) {
    resize(15, 15);
    FTimer->setTimerType(Qt::PreciseTimer);
    connect(FTimer, &QTimer::timeout, this, [this] { LEDOnTimer(); });
    RecomputeInsets();
}

TLED::~TLED() {
    FDestroying = true;
    FTimer->stop();
}

void TLED::SetBorderPercent(int Value) {
    if (Value < 0) return;
    FBorderPercent = Value;
    RecomputeInsets();
    update();
}

void TLED::SetBorderColour(const QColor& Value) {
    FBorderColour = Value;
    update();
}

void TLED::SetEdgeColour(const QColor& Value) {
    FEdgeColour = Value;
    update();
}

void TLED::SetLEDType(eKinds Value) {
    FTimer->stop();
    FLEDType = Value;
    PrepareTimer();
}

void TLED::SetLEDShape(eLEDShapes Value) {
    FLEDShape = Value;
    RecomputeInsets();
    update();
}

void TLED::SetOnColour(const QColor& Value) {
    FOnColour = Value;
    update();
}

void TLED::SetOffColour(const QColor& Value) {
    FOffColour = Value;
    update();
}

void TLED::SetFlashOnDelay(int Value) {
    if (Value >= 0) FFlashOnDelay = Value;
}

void TLED::SetFlashOffDelay(int Value) {
    if (Value >= 0) FFlashOffDelay = Value;
}

void TLED::SetPulseDelay(int Value) {
    if (Value >= 0) FPulseDelay = Value;
}

void TLED::SetState(eStates Value) {
    FTimer->stop();
    FState = Value;
    FLit = Value == stOn;
    if (FDestroying) return;
    update();
    PrepareTimer();
    if (FState == stOn && FLEDType != ltConstant) EnableTimer();
}

void TLED::SetVersion(float) {}

int TLED::TimerInterval() const { return FTimer->interval(); }

bool TLED::TimerActive() const { return FTimer->isActive(); }

void TLED::PrepareTimer() {
    FTimer->stop();
    if (FState == stOff) return;
    switch (FLEDType) {
    case ltFlashing: FTimer->setInterval(FLit ? FFlashOnDelay : FFlashOffDelay); break;
    case ltPulse: FTimer->setInterval(FPulseDelay); break;
    case ltConstant: break;
    }
}

void TLED::LEDOnTimer() {
    switch (FLEDType) {
    case ltConstant: PrepareTimer(); break;
    case ltFlashing:
        FLit = !FLit;
        PrepareTimer();
        update();
        if (FState == stOn) EnableTimer();
        break;
    case ltPulse: SetState(stOff); break;
    }
}

// A window timer with interval 0 never fires; QTimer would fire at every
// idle pass instead, so such a phase simply lasts until State changes.
void TLED::EnableTimer() {
    if (FTimer->interval() > 0) FTimer->start();
}

void TLED::RecomputeInsets() {
    if (FBorderPercent == 0) {
        FInsetX = FInsetY = 0;
        return;
    }
    FInsetX = MulDiv(FBorderPercent, width(), 200);
    FInsetY = MulDiv(FBorderPercent, height(), 200);
}

// Round and square lamps keep their proportions: the width wins.
void TLED::PositionChanged() {
    if ((FLEDShape == shRound || FLEDShape == shSquare) && width() != height())
        resize(width(), width());
    RecomputeInsets();
}

void TLED::moveEvent(QMoveEvent* Event) {
    QWidget::moveEvent(Event);
    PositionChanged();
}

void TLED::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    PositionChanged();
}

void TLED::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(FEdgeColour);
    const bool ellipse = FLEDShape == shRound || FLEDShape == shEllipse;
    // Outline and fill from (X1, Y1) up to, not including, (X2, Y2).
    auto shape = [&](int X1, int Y1, int X2, int Y2) {
        const QRect r(X1, Y1, X2 - X1 - 1, Y2 - Y1 - 1);
        if (ellipse)
            painter.drawEllipse(r);
        else
            painter.drawRect(r);
    };
    if (FBorderPercent != 0) {
        painter.setBrush(FBorderColour);
        shape(0, 0, width(), height());
    }
    painter.setBrush(FLit ? FOnColour : FOffColour);
    shape(FInsetX, FInsetY, width() - FInsetX, height() - FInsetY);
}

} // namespace volmar

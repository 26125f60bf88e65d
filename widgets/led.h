// TLED: a small indicator lamp drawn on its parent's background: round,
// elliptic, square or rectangular, with an optional border ring. It stays
// on, flashes with separate on and off times, or lights for one pulse.
#pragma once

#include <QColor>
#include <QWidget>

#include <cstdint>

class QTimer;

namespace volmar {

enum eStates : std::uint8_t { stOff, stOn };
enum eKinds : std::uint8_t { ltConstant, ltFlashing, ltPulse };
enum eLEDShapes : std::uint8_t { shRound, shEllipse, shSquare, shRectangle };

class TLED : public QWidget {
public:
    explicit TLED(QWidget* Parent = nullptr);
    ~TLED() override;

    // Percent of the size taken by the border ring; negative values ignored.
    int BorderPercent() const { return FBorderPercent; }
    virtual void SetBorderPercent(int Value);
    QColor BorderColour() const { return FBorderColour; }
    virtual void SetBorderColour(const QColor& Value);
    QColor EdgeColour() const { return FEdgeColour; }
    virtual void SetEdgeColour(const QColor& Value);
    eKinds LEDType() const { return FLEDType; }
    // Stops the timer: a flashing or pulsing lamp that is on keeps its
    // current colour until State is set again.
    virtual void SetLEDType(eKinds Value);
    eLEDShapes LEDShape() const { return FLEDShape; }
    virtual void SetLEDShape(eLEDShapes Value);
    QColor OnColour() const { return FOnColour; }
    virtual void SetOnColour(const QColor& Value);
    QColor OffColour() const { return FOffColour; }
    virtual void SetOffColour(const QColor& Value);
    // Delays in ms, negative values ignored; each is used from the next
    // phase or pulse on.
    int FlashOnDelay() const { return FFlashOnDelay; }
    virtual void SetFlashOnDelay(int Value);
    int FlashOffDelay() const { return FFlashOffDelay; }
    virtual void SetFlashOffDelay(int Value);
    int PulseDelay() const { return FPulseDelay; }
    virtual void SetPulseDelay(int Value);
    eStates State() const { return FState; }
    virtual void SetState(eStates Value);
    virtual float Version() const { return 1.2f; }
    virtual void SetVersion(float Value);

    // The lamp's timer handler: the next flash phase, or the end of a pulse.
    void LEDOnTimer();

    // Whether the lamp is drawn in OnColour at the moment.
    bool Lit() const { return FLit; }
    int TimerInterval() const;
    bool TimerActive() const;
    // The border ring's width and height in pixels.
    int BorderInsetX() const { return FInsetX; }
    int BorderInsetY() const { return FInsetY; }

protected:
    // Sets the interval of the coming phase and leaves the timer stopped.
    void PrepareTimer();
    void paintEvent(QPaintEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;

private:
    void RecomputeInsets();
    void PositionChanged();
    void EnableTimer();

    int FBorderPercent = 10;
    QColor FBorderColour{128, 128, 128};
    QColor FEdgeColour{0, 0, 0};
    eKinds FLEDType = ltConstant;
    eLEDShapes FLEDShape = shRound;
    QColor FOnColour{255, 0, 0};
    QColor FOffColour{128, 0, 0};
    int FFlashOnDelay = 200;
    int FFlashOffDelay = 200;
    int FPulseDelay = 400;
    eStates FState = stOff;

    bool FLit = false;
    bool FDestroying = false;
    int FInsetX = 0;
    int FInsetY = 0;
    QTimer* FTimer;
};

} // namespace volmar

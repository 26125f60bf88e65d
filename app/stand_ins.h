// Plain indicators the window shows until the drawn meters, lamps and
// pictures take their places: each keeps the state its real counterpart
// will keep, so the window's logic is the same with either.
#pragma once

#include <QColor>
#include <QLabel>
#include <QWidget>

#include <cstdint>

namespace volmar {

// A meter: a caption over a row of digits.
class TMeterStandIn : public QLabel {
    Q_OBJECT
public:
    TMeterStandIn(const QString& Caption, int Digits, bool ShowCaption, QWidget* Parent = nullptr);
    std::int32_t Value() const { return FValue; }
    void SetValue(std::int32_t Value);
    // Back to zero.
    void ResetRoll() { SetValue(0); }
    bool Spin() const { return FSpin; }
    void SetSpin(bool Value) { FSpin = Value; }
    bool MuteClicks() const { return FMuteClicks; }
    void SetMuteClicks(bool Value) { FMuteClicks = Value; }

private:
    void ShowText();

    QString FCaption;
    int FDigits;
    bool FShowCaption;
    std::int32_t FValue = 0;
    bool FSpin = false;
    bool FMuteClicks = true;
};

// A small square lamp with a colour for lit and one for not lit.
class TLampBox : public QWidget {
    Q_OBJECT
public:
    TLampBox(QColor LitColor, QColor UnlitColor, QWidget* Parent = nullptr);
    bool Lit() const { return FLit; }
    void SetLit(bool Value);
    QColor LitColor() const { return FLitColor; }
    QColor UnlitColor() const { return FUnlitColor; }
    void SetColors(QColor LitColor, QColor UnlitColor);

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QColor FLitColor;
    QColor FUnlitColor;
    bool FLit = false;
};

// A picture with numbered frames, shown as a framed word per frame.
class TFramePicture : public QLabel {
    Q_OBJECT
public:
    TFramePicture(QStringList FrameTexts, QList<QColor> FrameColors, QWidget* Parent = nullptr);
    int Frame() const { return FFrame; }
    void SetFrame(int Frame);

private:
    QStringList FTexts;
    QList<QColor> FColors;
    int FFrame = -1;
};

} // namespace volmar

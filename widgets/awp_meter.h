// The mechanical meter: a black window with a row of drum digits, a caption
// above or below it, a roll through three blur frames whenever a digit
// changes, and a click per update.
//
// Rolling is driven by a single-shot QTimer owned by the meter; nothing here
// runs a nested event loop. An update turns into a queue of steps that the
// meter works through, pausing only where the speed table asks for a delay:
//
//   Value:     for p = 1 (rightmost) .. NumDigits: if p's digit changes and
//              Spin is on, frames 10, 11, 12 at p, each followed by the blur
//              frame delay; then p shows its new digit.
//   ResetRoll: the same to all nines; then frames 10, 11, 12 at every
//              position at once, each followed by the reset frame delay; a
//              click unless MuteClicks; then every position shows 0.
//
// Steps without a delay run at once, before the setter returns: with Spin off
// or at spImmediate a Value update is complete when SetValue returns.
//
// A new Value (or ResetRoll) while rolling: the pending steps are dropped
// and the new update is queued against the digits on show. Whatever is
// showing a blur frame keeps turning first, if its delay is still non-zero
// (one position: Spin on and a blur frame delay; all positions during a
// reset's closing frames: a reset frame delay): it shows its remaining blur
// frames and lands straight on the digit the new update wants there (the new
// Value's digit, or 9 for a reset). Otherwise it shows its digit again at
// once. The new update then runs from position 1 as above. A superseded
// reset neither clicks nor zeroes Value. The queue is rebuilt, never
// appended to, so it stays within about four steps per digit however many
// updates arrive.
//
// Value() is the value last stored: SetValue's at once; ResetRoll's
// all-nines number while it rolls (999999999 for meters of ten or more digits,
// the widest such number an int holds), then 0. If an observer throws while
// steps run, the meter lands on the update's end state (a reset on 0) and
// the exception goes on to the caller.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <stdexcept>

#include "resources/click_sounds.h"

class QPainter;

namespace volmar {

class EAWPMeterError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A rectangle as the layout figures it: Right and Bottom are just outside.
struct TMeterRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    QRect ToQRect() const { return QRect(Left, Top, Right - Left, Bottom - Top); }
    bool operator==(const TMeterRect&) const = default;
};

class TAWPMeter : public QWidget {
    Q_OBJECT
public:
    enum eSpeeds : std::uint8_t { spSlow, spMedium, spFast, spVeryFast, spImmediate };
    enum eCapPositions : std::uint8_t { cpAbove, cpBelow };

    static constexpr int kMaxDigits = 16;

    struct TSpeedEntry {
        int ResetFrameDelay; // ms
        int BlurFrameDelay;  // ms
        bool Clicks;
        TClickSound Sound;
    };
    static TSpeedEntry SpeedEntry(eSpeeds Speed);

    explicit TAWPMeter(QWidget* Parent = nullptr);
    ~TAWPMeter() override;

    int BorderWidthY() const { return FBorderWidthY; } // 16
    void SetBorderWidthY(int Value);
    int BorderWidthX() const { return FBorderWidthX; } // 16
    void SetBorderWidthX(int Value);
    QColor BorderColour() const { return FBorderColour; } // 3B3B3Bh
    void SetBorderColour(const QColor& Value);
    QString Caption() const { return FCaption; } // "< untitled >"
    void SetCaption(const QString& Value);
    eCapPositions CaptionPos() const { return FCaptionPos; } // cpAbove
    void SetCaptionPos(eCapPositions Value);
    bool CaptionVisible() const { return FCaptionVisible; } // true
    void SetCaptionVisible(bool Value);
    // 1 to 16, else EAWPMeterError and nothing changes; a change rolls to 0.
    int NumDigits() const { return FNumDigits; } // 8
    void SetNumDigits(int Value);
    bool MuteClicks() const { return FMuteClicks; } // true
    void SetMuteClicks(bool Value) { FMuteClicks = Value; }
    eSpeeds Speed() const { return FSpeed; } // spFast
    void SetSpeed(eSpeeds Value);
    bool Spin() const { return FSpin; } // true
    void SetSpin(bool Value) { FSpin = Value; }
    bool Transparent() const { return FTransparent; } // true
    void SetTransparent(bool Value);
    std::int32_t Value() const { return FValue; } // 0
    void SetValue(std::int32_t Value);
    // The caption's colour (the font's colour); white.
    QColor FontColour() const { return FFontColour; }
    void SetFontColour(const QColor& Value);

    // Rolls from all nines over to all zeros.
    void ResetRoll();
    // The Speed's click, started and left to play; none at spImmediate.
    void PlayClick();

    int ResetFrameDelay() const { return FResetFrameDelay; }
    int BlurFrameDelay() const { return FBlurFrameDelay; }

    // Layout, as last figured.
    TMeterRect WindowRect() const;
    TMeterRect DigitRect(int Position) const; // 1 to 16
    QPoint CaptionOrigin() const;             // top left of the text
    int CaptionHeight() const;
    int CaptionWidth() const;

    // What a position (1 to 16) shows: frame 0..12 and its digit; -1 outside.
    int Frame(int Position) const;
    int Digit(int Position) const;

    // The roll: whether steps are pending; the delay being waited for (0 when
    // none); the number of queued steps.
    bool Rolling() const { return !FSteps.empty(); }
    int WaitingDelay() const { return FTimer.isActive() ? FTimer.interval() : 0; }
    int PendingSteps() const { return static_cast<int>(FSteps.size()); }
    // Ends the current wait now and runs on to the next delay, as the timer
    // would; false when nothing was pending.
    bool StepRoll();
    // Runs every pending step now.
    void FinishRoll();

    // Told of every frame drawn at a position, whether or not it reaches the
    // screen (a meter without a parent draws nothing).
    std::function<void(TAWPMeter* Sender, int Position, int Frame)> OnFrameShown;
    // Told of every click started (never at spImmediate), heard or not.
    std::function<void(TAWPMeter* Sender, eSpeeds Speed)> OnClick;

protected:
    void paintEvent(QPaintEvent* Event) override;
    void resizeEvent(QResizeEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;
    void changeEvent(QEvent* Event) override;
    bool event(QEvent* Event) override;

private:
    enum TStepKind : std::uint8_t {
        skBlur,
        skLand,
        skAllBlur,
        skLandAll,
        skResetClick,
        skResetEnd
    };
    struct TStep {
        TStepKind Kind;
        std::int8_t Position; // skBlur, skLand
        std::int8_t Value;    // frame for skBlur / skAllBlur, digit for skLand
    };
    using TDigits = std::array<int, kMaxDigits + 1>; // [1..16]

    class TDrums;

    void CalcLayout() const;
    // Where the drums are, in the meter: the digit positions side by side.
    QRect DrumsRect() const;
    void PaintDrums(QPainter& Painter, const QRect& Dirty);
    // A hidden widget gets no resize event until shown: catch up on demand.
    void EnsureLayout() const;
    void DrawDigit(int P);
    void ShowValue();
    // Queues position P's change to D (blur frames if it changes and Spin).
    void SetDigit(int P, int D);
    void BeginUpdate(bool Reset, const TDigits& Landing);
    void Go();
    void RunSteps();
    int Perform(const TStep& S);
    void Settle();
    void OnTimer();
    TDigits ValueDigits() const;

    int FBorderWidthY = 16;
    int FBorderWidthX = 16;
    QColor FBorderColour = QColor(0x3B, 0x3B, 0x3B);
    QString FCaption = QStringLiteral("< untitled >");
    eCapPositions FCaptionPos = cpAbove;
    bool FCaptionVisible = true;
    int FNumDigits = 8;
    bool FMuteClicks = true;
    eSpeeds FSpeed = spFast;
    bool FSpin = true;
    bool FTransparent = true;
    std::int32_t FValue = 0;
    QColor FFontColour = Qt::white;

    TDrums* FDrums;
    std::array<QImage, 13> FFrames;
    std::array<int, kMaxDigits + 1> FFrame{};
    TDigits FDigit{};

    mutable TMeterRect FWindow;
    mutable int FDigitWidth = 0;
    mutable QPoint FCaptionOrigin;
    mutable int FCaptionHeight = 0;
    mutable int FCaptionWidth = 0;
    mutable QSize FLayoutSize;
    // The frames scaled to the digit size once, so a roll only copies pixels.
    std::array<QPixmap, 13> FScaledFrames;
    QSize FScaledSize;

    int FResetFrameDelay = 50;
    int FBlurFrameDelay = 25;
    bool FCreated = false;

    QTimer FTimer;
    std::deque<TStep> FSteps;
    bool FResetting = false; // the queued update is a reset roll
    TDigits FLanding{};      // where a skLandAll step puts each position
    TDigits FPlanned{};      // each position's digit once the queue has run
    int FBlurAt = 0;         // position showing a blur frame; -1 all of them; 0 none
    bool FRunning = false;
    unsigned FUpdateCount = 0; // bumped by every new update
    bool FCarried = false;     // the newest update kept a turning blur going
};

} // namespace volmar

#include "widgets/awp_meter.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPaintEvent>
#include <QPainter>
#include <QtGlobal>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "resources/meter_frames.h"
#include "widgets/click_player.h"
#include "widgets/paced_repaints.h"

namespace volmar {

namespace {

constexpr int kFirstBlur = kMeterFirstBlurFrame;
constexpr int kLastBlur = kMeterFrameCount - 1;

// V / 2 to the nearest integer, a half going to the even neighbour.
int HalfToEven(int V) {
    int h = V / 2;
    if (V % 2 != 0 && h % 2 != 0) h += V > 0 ? 1 : -1;
    return h;
}

// A * B / C rounded to the nearest, halves away from zero; -1 on a zero
// divisor or an overflow, as the Windows call does.
int MulDiv(int A, int B, int C) {
    if (C == 0) return -1;
    std::int64_t p = std::int64_t(A) * B;
    std::int64_t c = C;
    if (c < 0) p = -p, c = -c;
    const std::int64_t r = p >= 0 ? (p + c / 2) / c : (p - c / 2) / c;
    return r > INT_MAX || r < INT_MIN ? -1 : static_cast<int>(r);
}

int FrameOf(int Digit) { return Digit >= 0 && Digit <= 9 ? Digit : 0; }

std::int32_t AllNines(int Digits) {
    std::int32_t v = 0;
    for (int i = 0; i < std::min(Digits, 9); ++i) v = v * 10 + 9;
    return v;
}

} // namespace

// The drums in a child of their own that covers every pixel it owns: a roll
// repaints only it, not the meter and its parents underneath.
class TAWPMeter::TDrums : public QWidget {
public:
    explicit TDrums(TAWPMeter* Meter) : QWidget(Meter), FMeter(Meter) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* Event) override {
        QPainter painter(this);
        painter.translate(-pos());
        FMeter->PaintDrums(painter, Event->rect().translated(pos()));
    }

private:
    TAWPMeter* FMeter;
};

TAWPMeter::TSpeedEntry TAWPMeter::SpeedEntry(eSpeeds Speed) {
    switch (Speed) {
    case spSlow: return {200, 100, true, csMtrSlow};
    case spMedium: return {100, 25, true, csMtrSlow};
    case spFast: return {50, 25, true, csMtrNorm};
    case spVeryFast: return {5, 5, true, csMtrFast};
    case spImmediate: break;
    }
    return {0, 0, false, csMtrFast};
}

TAWPMeter::TAWPMeter(QWidget* Parent) : QWidget(Parent), FDrums(new TDrums(this)) {
    for (int i = 0; i < kMeterFrameCount; ++i) {
        const QImage f = MeterFrame(i);
        // Kept in the painter's own format so that drawing does not convert.
        if (!f.isNull())
            FFrames[static_cast<std::size_t>(i)] = f.convertToFormat(QImage::Format_RGB32);
    }
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, [this] { OnTimer(); });
    SetSpeed(spFast);
    resize(160, 76);
    SetNumDigits(8); // not created yet: shows zeros without rolling
    FCreated = true;
}

TAWPMeter::~TAWPMeter() = default;

// ---- Properties ----

void TAWPMeter::SetBorderWidthY(int Value) {
    FBorderWidthY = Value;
    CalcLayout();
    update();
}

void TAWPMeter::SetBorderWidthX(int Value) {
    FBorderWidthX = Value;
    CalcLayout();
    update();
}

void TAWPMeter::SetBorderColour(const QColor& Value) {
    FBorderColour = Value;
    update();
}

void TAWPMeter::SetCaption(const QString& Value) {
    FCaption = Value;
    CalcLayout();
    if (FCaptionVisible) update();
}

void TAWPMeter::SetCaptionPos(eCapPositions Value) {
    FCaptionPos = Value;
    CalcLayout();
    if (FCaptionVisible) update();
}

void TAWPMeter::SetCaptionVisible(bool Value) {
    FCaptionVisible = Value;
    CalcLayout();
    update();
}

void TAWPMeter::SetNumDigits(int Value) {
    if (Value > kMaxDigits)
        throw EAWPMeterError("Sorry, I can only let you have a maximum of " +
                             std::to_string(kMaxDigits) + " digits !");
    if (Value < 1) throw EAWPMeterError("Sorry, you must have at least 1 digit !");
    FNumDigits = Value;
    CalcLayout();
    update();
    ResetRoll();
}

void TAWPMeter::SetSpeed(eSpeeds Value) {
    FSpeed = Value;
    const TSpeedEntry e = SpeedEntry(Value);
    FResetFrameDelay = e.ResetFrameDelay;
    FBlurFrameDelay = e.BlurFrameDelay;
}

void TAWPMeter::SetTransparent(bool Value) {
    FTransparent = Value;
    update();
}

void TAWPMeter::SetValue(std::int32_t Value) {
    FValue = Value;
    ShowValue();
}

void TAWPMeter::SetFontColour(const QColor& Value) {
    FFontColour = Value;
    if (FCaptionVisible) update();
}

// ---- Layout ----

void TAWPMeter::CalcLayout() const {
    const bool parented = parentWidget() != nullptr;
    const QFontMetrics metrics(font());
    FCaptionHeight = !FCaptionVisible ? 0 : parented ? metrics.height() : 17;
    FCaptionWidth = FCaptionVisible && parented ? metrics.horizontalAdvance(FCaption) : 0;

    const int w = width();
    const int h = height();
    const int hb = HalfToEven(FBorderWidthY);
    FWindow.Left = FBorderWidthX;
    FWindow.Right = w - FBorderWidthX;
    int captionY;
    if (FCaptionPos == cpAbove) {
        FWindow.Top = FBorderWidthY + FCaptionHeight;
        FWindow.Bottom = h - FBorderWidthY;
        captionY = hb;
    } else {
        FWindow.Top = FBorderWidthY;
        FWindow.Bottom = h - FBorderWidthY - FCaptionHeight;
        captionY = FWindow.Bottom + hb;
    }
    FCaptionOrigin = QPoint(FBorderWidthX + (w - 2 * FBorderWidthX - FCaptionWidth) / 2, captionY);
    FDigitWidth = MulDiv(w - 2 * FBorderWidthX, 1, FNumDigits);
    FLayoutSize = size();
    FDrums->setGeometry(DrumsRect());
}

void TAWPMeter::EnsureLayout() const {
    if (FLayoutSize != size()) CalcLayout();
}

TMeterRect TAWPMeter::WindowRect() const {
    EnsureLayout();
    return FWindow;
}

TMeterRect TAWPMeter::DigitRect(int Position) const {
    EnsureLayout();
    TMeterRect r;
    r.Left = FWindow.Right - 1 - Position * FDigitWidth;
    r.Right = r.Left + FDigitWidth;
    r.Top = FWindow.Top;
    r.Bottom = FWindow.Bottom;
    return r;
}

QPoint TAWPMeter::CaptionOrigin() const {
    EnsureLayout();
    return FCaptionOrigin;
}

int TAWPMeter::CaptionHeight() const {
    EnsureLayout();
    return FCaptionHeight;
}

int TAWPMeter::CaptionWidth() const {
    EnsureLayout();
    return FCaptionWidth;
}

int TAWPMeter::Frame(int Position) const {
    if (Position < 1 || Position > kMaxDigits) return -1;
    return FFrame[static_cast<std::size_t>(Position)];
}

int TAWPMeter::Digit(int Position) const {
    if (Position < 1 || Position > kMaxDigits) return -1;
    return FDigit[static_cast<std::size_t>(Position)];
}

void TAWPMeter::resizeEvent(QResizeEvent* Event) {
    QWidget::resizeEvent(Event);
    CalcLayout();
}

void TAWPMeter::moveEvent(QMoveEvent* Event) {
    QWidget::moveEvent(Event);
    if (parentWidget()) CalcLayout();
}

void TAWPMeter::changeEvent(QEvent* Event) {
    // The caption's size comes from the font.
    if (Event->type() == QEvent::FontChange) {
        CalcLayout();
        update();
    }
    QWidget::changeEvent(Event);
}

bool TAWPMeter::event(QEvent* Event) {
    // With a parent the caption is measured; without, it has a fixed height.
    if (Event->type() == QEvent::ParentChange) CalcLayout();
    return QWidget::event(Event);
}

// ---- Drawing ----

void TAWPMeter::paintEvent(QPaintEvent* Event) {
    if (!parentWidget()) return;
    EnsureLayout();
    QPainter painter(this);
    if (!FTransparent) painter.fillRect(Event->rect(), FBorderColour);
    const TMeterRect& w = FWindow;
    painter.fillRect(w.ToQRect(), Qt::black);
    // The bevel: shadow along the top and left, light along the bottom and right.
    const QColor shadow(0x80, 0x80, 0x80);
    painter.fillRect(QRect(w.Left - 1, w.Top - 1, w.Right - w.Left + 1, 1), shadow);
    painter.fillRect(QRect(w.Left - 1, w.Top - 1, 1, w.Bottom - w.Top + 2), shadow);
    painter.fillRect(QRect(w.Left, w.Bottom + 1, w.Right - w.Left + 1, 1), Qt::white);
    painter.fillRect(QRect(w.Right + 1, w.Top - 1, 1, w.Bottom - w.Top + 2), Qt::white);

    // A roll repaints digits only; the caption is drawn when its place is.
    const QRect captionRect(FCaptionOrigin, QSize(FCaptionWidth, FCaptionHeight));
    if (FCaptionVisible && Event->region().intersects(captionRect)) {
        painter.setFont(font());
        painter.setPen(FFontColour);
        painter.setBackgroundMode(Qt::TransparentMode);
        const QFontMetrics metrics(font());
        painter.drawText(FCaptionOrigin + QPoint(0, metrics.ascent()), FCaption);
    }
}

QRect TAWPMeter::DrumsRect() const {
    const TMeterRect first = DigitRect(FNumDigits);
    return QRect(first.Left, first.Top, FNumDigits * FDigitWidth, first.Bottom - first.Top);
}

void TAWPMeter::PaintDrums(QPainter& Painter, const QRect& Dirty) {
    if (!parentWidget()) return;
    EnsureLayout();
    // The drums are squeezed or stretched to fit, smoothly, once per size.
    const QSize digitSize = DigitRect(1).ToQRect().size();
    if (digitSize != FScaledSize) {
        FScaledSize = digitSize;
        for (std::size_t i = 0; i < FFrames.size(); ++i)
            FScaledFrames[i] = FFrames[i].isNull() || digitSize.isEmpty()
                                   ? QPixmap()
                                   : QPixmap::fromImage(FFrames[i].scaled(
                                         digitSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    for (int p = 1; p <= FNumDigits; ++p) {
        const QPixmap& frame = FScaledFrames[static_cast<std::size_t>(FFrame[static_cast<std::size_t>(p)])];
        const QRect r = DigitRect(p).ToQRect();
        if (!r.isValid() || !Dirty.intersects(r)) continue;
        // A missing frame leaves the window's black.
        if (frame.isNull())
            Painter.fillRect(r, Qt::black);
        else
            Painter.drawPixmap(r.topLeft(), frame);
    }
}

void TAWPMeter::DrawDigit(int P) {
    if (parentWidget())
        TPacedRepaints::Add(FDrums, DigitRect(P).ToQRect().translated(-FDrums->pos()));
    if (OnFrameShown) OnFrameShown(this, P, FFrame[static_cast<std::size_t>(P)]);
}

// ---- Showing a value and rolling ----

TAWPMeter::TDigits TAWPMeter::ValueDigits() const {
    char text[32];
    std::snprintf(text, sizeof text, "%.16d", FValue);
    const int length = static_cast<int>(std::strlen(text));
    TDigits d{};
    for (int p = 1; p <= FNumDigits; ++p)
        d[static_cast<std::size_t>(p)] = p <= length ? text[length - p] - '0' : 0;
    return d;
}

void TAWPMeter::ShowValue() {
    if (!FMuteClicks) PlayClick();
    const TDigits target = ValueDigits();
    BeginUpdate(false, target);
    for (int p = 1; p <= FNumDigits; ++p) SetDigit(p, target[static_cast<std::size_t>(p)]);
    Go();
}

void TAWPMeter::SetDigit(int P, int D) {
    const auto i = static_cast<std::size_t>(P);
    const auto pos = static_cast<std::int8_t>(P);
    if (D != FPlanned[i] && FSpin)
        for (int f = kFirstBlur; f <= kLastBlur; ++f)
            FSteps.push_back({skBlur, pos, static_cast<std::int8_t>(f)});
    FSteps.push_back({skLand, pos, static_cast<std::int8_t>(D)});
    FPlanned[i] = D;
}

void TAWPMeter::ResetRoll() {
    TDigits nines{};
    for (int p = 1; p <= FNumDigits; ++p) nines[static_cast<std::size_t>(p)] = 9;
    BeginUpdate(true, nines);
    if (FCreated) {
        FValue = AllNines(FNumDigits);
        for (int p = 1; p <= FNumDigits; ++p) SetDigit(p, 9);
        for (int f = kFirstBlur; f <= kLastBlur; ++f)
            FSteps.push_back({skAllBlur, 0, static_cast<std::int8_t>(f)});
        FSteps.push_back({skResetClick, 0, 0});
    }
    FSteps.push_back({skResetEnd, 0, 0});
    Go();
}

void TAWPMeter::PlayClick() {
    const TSpeedEntry e = SpeedEntry(FSpeed);
    if (!e.Clicks) return;
    if (OnClick) OnClick(this, FSpeed);
    PlayClickSound(e.Sound);
}

void TAWPMeter::BeginUpdate(bool Reset, const TDigits& Landing) {
    ++FUpdateCount;
    FSteps.clear();
    FResetting = Reset;
    FLanding = Landing;
    FPlanned = FDigit;
    FCarried = false;
    if (FBlurAt > 0 && FBlurAt <= FNumDigits && FSpin && FBlurFrameDelay > 0) {
        // One drum is turning: it finishes its turn onto the new digit.
        const auto i = static_cast<std::size_t>(FBlurAt);
        const auto pos = static_cast<std::int8_t>(FBlurAt);
        for (int f = FFrame[i] + 1; f <= kLastBlur; ++f)
            FSteps.push_back({skBlur, pos, static_cast<std::int8_t>(f)});
        FSteps.push_back({skLand, pos, static_cast<std::int8_t>(Landing[i])});
        FPlanned[i] = Landing[i];
        FCarried = true;
    } else if (FBlurAt < 0 && FResetFrameDelay > 0) {
        // A reset's closing frames: every drum finishes its turn.
        for (int f = FFrame[1] + 1; f <= kLastBlur; ++f)
            FSteps.push_back({skAllBlur, 0, static_cast<std::int8_t>(f)});
        FSteps.push_back({skLandAll, 0, 0});
        for (int p = 1; p <= FNumDigits; ++p)
            FPlanned[static_cast<std::size_t>(p)] = Landing[static_cast<std::size_t>(p)];
        FCarried = true;
    }
    if (!FCarried) FTimer.stop();
    // Nothing else keeps turning: drums caught in a blur frame show their digit again.
    for (int p = 1; p <= kMaxDigits; ++p) {
        const auto i = static_cast<std::size_t>(p);
        const bool carried = FCarried && (FBlurAt < 0 ? p <= FNumDigits : p == FBlurAt);
        if (FFrame[i] >= kFirstBlur && !carried) {
            FFrame[i] = FrameOf(FDigit[i]);
            if (p <= FNumDigits) DrawDigit(p);
        }
    }
    if (!FCarried) FBlurAt = 0;
}

void TAWPMeter::Go() {
    // Inside RunSteps the running loop carries on with the new queue; while
    // the timer waits, its timeout does.
    if (FRunning || FTimer.isActive()) return;
    RunSteps();
}

void TAWPMeter::RunSteps() {
    if (FRunning) return;
    FRunning = true;
    try {
        while (!FSteps.empty()) {
            const TStep s = FSteps.front();
            FSteps.pop_front();
            const unsigned update = FUpdateCount;
            int delay = Perform(s);
            // A new update begun meanwhile (by an observer) that left nothing
            // turning starts at once.
            if (FUpdateCount != update && !FCarried) delay = 0;
            if (delay > 0 && !FSteps.empty()) {
                FTimer.start(delay);
                break;
            }
        }
    } catch (...) {
        FRunning = false;
        Settle();
        throw;
    }
    FRunning = false;
}

int TAWPMeter::Perform(const TStep& S) {
    const auto i = static_cast<std::size_t>(S.Position);
    switch (S.Kind) {
    case skBlur:
        FFrame[i] = S.Value;
        FBlurAt = S.Position;
        DrawDigit(S.Position);
        return FBlurFrameDelay;
    case skLand:
        FDigit[i] = S.Value;
        FFrame[i] = FrameOf(S.Value);
        if (FBlurAt == S.Position) FBlurAt = 0;
        DrawDigit(S.Position);
        return 0;
    case skAllBlur:
        FBlurAt = -1;
        for (int p = 1; p <= FNumDigits; ++p) {
            FFrame[static_cast<std::size_t>(p)] = S.Value;
            DrawDigit(p);
        }
        return FResetFrameDelay;
    case skLandAll:
        FBlurAt = 0;
        for (int p = 1; p <= FNumDigits; ++p) {
            const auto k = static_cast<std::size_t>(p);
            FDigit[k] = FLanding[k];
            FFrame[k] = FrameOf(FLanding[k]);
            DrawDigit(p);
        }
        return 0;
    case skResetClick:
        if (!FMuteClicks) PlayClick();
        return 0;
    case skResetEnd:
        FBlurAt = 0;
        FDigit.fill(0);
        FFrame.fill(0);
        for (int p = 1; p <= FNumDigits; ++p) DrawDigit(p);
        FValue = 0;
        FResetting = false;
        return 0;
    }
    return 0;
}

void TAWPMeter::Settle() {
    FSteps.clear();
    FTimer.stop();
    FBlurAt = 0;
    if (FResetting) {
        FDigit.fill(0);
        FFrame.fill(0);
        FValue = 0;
    } else {
        const TDigits target = ValueDigits();
        for (int p = 1; p <= FNumDigits; ++p) {
            const auto k = static_cast<std::size_t>(p);
            FDigit[k] = target[k];
            FFrame[k] = FrameOf(target[k]);
        }
    }
    for (int p = FNumDigits + 1; p <= kMaxDigits; ++p) {
        const auto k = static_cast<std::size_t>(p);
        FFrame[k] = FrameOf(FDigit[k]);
    }
    FResetting = false;
    update();
}

void TAWPMeter::OnTimer() {
    // An exception cannot travel through the event loop; the meter has
    // already settled, so the roll just ends here.
    try {
        RunSteps();
    } catch (const std::exception& e) {
        qWarning("Meter roll stopped: %s", e.what());
    } catch (...) {
        qWarning("Meter roll stopped");
    }
}

bool TAWPMeter::StepRoll() {
    if (FRunning || FSteps.empty()) return false;
    FTimer.stop();
    RunSteps();
    return true;
}

void TAWPMeter::FinishRoll() {
    while (StepRoll()) {
    }
}

} // namespace volmar

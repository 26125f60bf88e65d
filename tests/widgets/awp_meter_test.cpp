// The mechanical meter: properties, layout, the roll's frames and delays,
// overlapping updates, clicks and the picture. Rolls are stepped by hand
// (StepRoll), so no test sleeps.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QImage>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPainter>
#include <QScreen>
#include <QSoundEffect>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "widgets/awp_meter.h"
#include "widgets/click_player.h"
#include "support/qt_pump.h"

using namespace volmar;

namespace {

// Records what a meter shows, the waits between and its clicks, as text:
// "3:10" frame 10 at position 3, "w25" a 25 ms wait, "click".
struct TRecorder {
    std::vector<std::string> Log;
    int Clicks = 0;
    int MostBlurring = 0; // most positions showing a blur frame at one time
    std::array<int, 17> Shown{};

    void Attach(TAWPMeter& M) {
        M.OnFrameShown = [this](TAWPMeter* Sender, int P, int F) {
            Log.push_back(std::to_string(P) + ":" + std::to_string(F));
            Shown[static_cast<std::size_t>(P)] = F;
            int blurring = 0;
            for (int p = 1; p <= Sender->NumDigits(); ++p)
                if (Shown[static_cast<std::size_t>(p)] >= 10) ++blurring;
            MostBlurring = std::max(MostBlurring, blurring);
        };
        M.OnClick = [this](TAWPMeter*, TAWPMeter::eSpeeds) {
            ++Clicks;
            Log.push_back("click");
        };
    }
    // Works through the roll as the timer would, noting each wait.
    void Drain(TAWPMeter& M) {
        while (M.Rolling()) {
            // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on "w" + a temporary.
            std::string entry = "w";
            entry += std::to_string(M.WaitingDelay());
            Log.push_back(entry);
            ASSERT_TRUE(M.StepRoll());
        }
    }
    std::string Text() const {
        std::string s;
        for (const std::string& e : Log) s += (s.empty() ? "" : " ") + e;
        return s;
    }
    void Clear() { Log.clear(); }
};

// The frames of one changing position: three blur frames, each
// followed by the wait, then the digit.
std::string Spins(int P, int D, int Wait) {
    std::string s;
    for (int f = 10; f <= 12; ++f)
        s += std::to_string(P) + ":" + std::to_string(f) + " w" + std::to_string(Wait) + " ";
    return s + std::to_string(P) + ":" + std::to_string(D);
}
std::string Still(int P, int D) { return std::to_string(P) + ":" + std::to_string(D); }
std::string Join(const std::vector<std::string>& Parts) {
    std::string s;
    for (const std::string& e : Parts) s += (s.empty() ? "" : " ") + e;
    return s;
}

std::string Shown(const TAWPMeter& M) {
    std::string s;
    for (int p = M.NumDigits(); p >= 1; --p) s += char('0' + M.Digit(p));
    return s;
}

} // namespace

// ---- Construction and properties ----

TEST(AWPMeterProperties, DefaultsAndNothingRollsAtConstruction) {
    TAWPMeter m;
    EXPECT_EQ(m.BorderWidthY(), 16);
    EXPECT_EQ(m.BorderWidthX(), 16);
    EXPECT_EQ(m.BorderColour(), QColor(0x3B, 0x3B, 0x3B));
    EXPECT_EQ(m.Caption(), QStringLiteral("< untitled >"));
    EXPECT_EQ(m.CaptionPos(), TAWPMeter::cpAbove);
    EXPECT_TRUE(m.CaptionVisible());
    EXPECT_EQ(m.NumDigits(), 8);
    EXPECT_TRUE(m.MuteClicks());
    EXPECT_EQ(m.Speed(), TAWPMeter::spFast);
    EXPECT_TRUE(m.Spin());
    EXPECT_TRUE(m.Transparent());
    EXPECT_EQ(m.Value(), 0);
    EXPECT_EQ(m.FontColour(), QColor(Qt::white));
    EXPECT_EQ(m.size(), QSize(160, 76));
    EXPECT_FALSE(m.Rolling());
    for (int p = 1; p <= 8; ++p) {
        EXPECT_EQ(m.Digit(p), 0) << p;
        EXPECT_EQ(m.Frame(p), 0) << p;
    }
    EXPECT_EQ(m.Frame(0), -1);
    EXPECT_EQ(m.Digit(17), -1);
}

TEST(AWPMeterProperties, SpeedSetsBothDelaysAndTheClick) {
    struct {
        TAWPMeter::eSpeeds Speed;
        int Reset, Blur;
        bool Clicks;
        TClickSound Sound;
    } table[] = {{TAWPMeter::spSlow, 200, 100, true, csMtrSlow},
                 {TAWPMeter::spMedium, 100, 25, true, csMtrSlow},
                 {TAWPMeter::spFast, 50, 25, true, csMtrNorm},
                 {TAWPMeter::spVeryFast, 5, 5, true, csMtrFast},
                 {TAWPMeter::spImmediate, 0, 0, false, csMtrFast}};
    TAWPMeter m;
    for (const auto& row : table) {
        m.SetSpeed(row.Speed);
        EXPECT_EQ(m.Speed(), row.Speed);
        EXPECT_EQ(m.ResetFrameDelay(), row.Reset) << int(row.Speed);
        EXPECT_EQ(m.BlurFrameDelay(), row.Blur) << int(row.Speed);
        const TAWPMeter::TSpeedEntry e = TAWPMeter::SpeedEntry(row.Speed);
        EXPECT_EQ(e.Clicks, row.Clicks);
        if (row.Clicks) {
            EXPECT_EQ(e.Sound, row.Sound) << int(row.Speed);
        }
    }
}

TEST(AWPMeterProperties, NumDigitsOutOfRangeIsRefusedWithTheMessagesAndChangesNothing) {
    QWidget parent;
    auto* m = new TAWPMeter(&parent);
    m->SetSpeed(TAWPMeter::spImmediate);
    m->SetValue(42);
    const TMeterRect before = m->DigitRect(1);
    TRecorder r;
    r.Attach(*m);
    struct {
        int Digits;
        const char* Message;
    } cases[] = {{17, "Sorry, I can only let you have a maximum of 16 digits !"},
                 {0, "Sorry, you must have at least 1 digit !"},
                 {-3, "Sorry, you must have at least 1 digit !"}};
    for (const auto& c : cases) {
        try {
            m->SetNumDigits(c.Digits);
            ADD_FAILURE() << "no error for " << c.Digits;
        } catch (const EAWPMeterError& e) {
            EXPECT_STREQ(e.what(), c.Message);
        }
        EXPECT_EQ(m->NumDigits(), 8);
        EXPECT_EQ(m->Value(), 42);
        EXPECT_EQ(m->DigitRect(1), before);
    }
    EXPECT_TRUE(r.Log.empty()) << r.Text();
    // EAWPMeterError is an ordinary runtime error to a caller.
    EXPECT_THROW(m->SetNumDigits(99), std::runtime_error);
    m->SetNumDigits(16);
    EXPECT_EQ(m->NumDigits(), 16);
    m->SetNumDigits(1);
    EXPECT_EQ(m->NumDigits(), 1);
}

// ---- Layout ----

TEST(AWPMeterLayout, DefaultsWithoutParentUseACaptionSeventeenHighAndNoWidth) {
    TAWPMeter m; // 160 x 76, borders 16
    EXPECT_EQ(m.CaptionHeight(), 17);
    EXPECT_EQ(m.CaptionWidth(), 0);
    EXPECT_EQ(m.WindowRect(), (TMeterRect{16, 16 + 17, 144, 60}));
    EXPECT_EQ(m.CaptionOrigin(), QPoint(16 + 128 / 2, 8));
    // 128 / 8 = 16 per digit; position 1 ends a pixel inside the right edge.
    EXPECT_EQ(m.DigitRect(1), (TMeterRect{143 - 16, 33, 143, 60}));
    EXPECT_EQ(m.DigitRect(8), (TMeterRect{143 - 128, 33, 143 - 112, 60}));
}

TEST(AWPMeterLayout, CaptionBelowSitsHalfTheBorderUnderTheWindow) {
    TAWPMeter m;
    m.resize(121, 41);
    m.SetBorderWidthX(4);
    m.SetBorderWidthY(4);
    m.SetCaptionPos(TAWPMeter::cpBelow);
    const TMeterRect w = m.WindowRect();
    EXPECT_EQ(w.Top, 4);
    EXPECT_EQ(w.Bottom, 41 - 4 - 17);
    EXPECT_EQ(m.CaptionOrigin().y(), w.Bottom + 2);
    // Above: the caption at the half border, the window under it.
    m.SetCaptionPos(TAWPMeter::cpAbove);
    EXPECT_EQ(m.CaptionOrigin().y(), 2);
    EXPECT_EQ(m.WindowRect().Top, 4 + 17);
    EXPECT_EQ(m.WindowRect().Bottom, 41 - 4);
}

TEST(AWPMeterLayout, HalfBorderRoundsHalvesToTheEvenNeighbour) {
    TAWPMeter m;
    struct {
        int Border, Offset;
    } cases[] = {{5, 2}, {3, 2}, {1, 0}, {7, 4}, {9, 4}, {4, 2}, {2, 1}, {0, 0}};
    for (const auto& c : cases) {
        m.SetBorderWidthY(c.Border);
        m.SetCaptionPos(TAWPMeter::cpAbove);
        EXPECT_EQ(m.CaptionOrigin().y(), c.Offset) << "border " << c.Border;
        m.SetCaptionPos(TAWPMeter::cpBelow);
        EXPECT_EQ(m.CaptionOrigin().y() - m.WindowRect().Bottom, c.Offset) << "border " << c.Border;
    }
}

TEST(AWPMeterLayout, DigitWidthRoundsLikeMulDivAndPositionsRunLeftwards) {
    TAWPMeter m;
    m.SetBorderWidthX(4);
    m.SetBorderWidthY(4);
    // 113 / 8 = 14.125 -> 14: the machine page's meters.
    m.resize(121, 41);
    const TMeterRect w = m.WindowRect();
    EXPECT_EQ(w.Left, 4);
    EXPECT_EQ(w.Right, 117);
    for (int p = 1; p <= 8; ++p) {
        const TMeterRect d = m.DigitRect(p);
        EXPECT_EQ(d.Left, 116 - p * 14) << p;
        EXPECT_EQ(d.Right - d.Left, 14) << p;
        EXPECT_EQ(d.Top, w.Top);
        EXPECT_EQ(d.Bottom, w.Bottom);
    }
    EXPECT_EQ(m.DigitRect(1).Right, w.Right - 1);
    EXPECT_EQ(m.DigitRect(2).Right, m.DigitRect(1).Left);
    // Halves go up (100 / 8 = 12.5 -> 13, 99 / 6 = 16.5 -> 17), not to even.
    m.resize(108, 41);
    EXPECT_EQ(m.DigitRect(1).Right - m.DigitRect(1).Left, 13);
    m.SetNumDigits(6);
    m.FinishRoll();
    m.resize(107, 41);
    EXPECT_EQ(m.DigitRect(1).Right - m.DigitRect(1).Left, 17);
    // 98 / 6 = 16.33 -> 16: the small meters' strip.
    m.SetBorderWidthX(0);
    m.resize(98, 25);
    EXPECT_EQ(m.DigitRect(1).Right - m.DigitRect(1).Left, 16);
}

TEST(AWPMeterLayout, WithAParentTheCaptionIsMeasuredAndCentredTruncatingTowardZero) {
    QWidget parent;
    auto* m = new TAWPMeter(&parent);
    m->SetBorderWidthX(4);
    m->SetBorderWidthY(4);
    m->SetCaption(QStringLiteral("Cancelled Credits"));
    const QFontMetrics fm(m->font());
    const int cw = fm.horizontalAdvance(m->Caption());
    EXPECT_EQ(m->CaptionHeight(), fm.height());
    EXPECT_EQ(m->CaptionWidth(), cw);
    m->resize(121, 41);
    EXPECT_EQ(m->CaptionOrigin().x(), 4 + (113 - cw) / 2);
    EXPECT_EQ(m->WindowRect().Top, 4 + fm.height());
    // Wider than the meter by 7: -7 / 2 truncates to -3, not -4.
    m->resize(cw - 7 + 8, 41);
    EXPECT_EQ(m->CaptionOrigin().x(), 4 - 3);
    // Hidden caption: no height, no width.
    m->SetCaptionVisible(false);
    EXPECT_EQ(m->CaptionHeight(), 0);
    EXPECT_EQ(m->CaptionWidth(), 0);
    EXPECT_EQ(m->WindowRect().Top, 4);
}

TEST(AWPMeterLayout, ParentFontAndSizeChangesLayOutAgain) {
    QWidget parent;
    TAWPMeter m; // no parent yet
    EXPECT_EQ(m.CaptionHeight(), 17);
    m.setParent(&parent);
    const QFontMetrics fm(m.font());
    EXPECT_EQ(m.CaptionHeight(), fm.height());
    QFont big = m.font();
    big.setPixelSize(30);
    m.setFont(big);
    EXPECT_EQ(m.CaptionHeight(), QFontMetrics(big).height());
    EXPECT_EQ(m.WindowRect().Top, 16 + QFontMetrics(big).height());
    m.setGeometry(10, 20, 200, 90);
    EXPECT_EQ(m.WindowRect().Right, 200 - 16);
    EXPECT_EQ(m.WindowRect().Bottom, 90 - 16);
    m.setParent(nullptr);
    EXPECT_EQ(m.CaptionHeight(), 17);
}

// ---- Showing values ----

TEST(AWPMeterValue, ChangedPositionsSpinRightToLeftAndTheRestAreRedrawn) {
    TAWPMeter m; // spFast: 25 ms between blur frames
    TRecorder r;
    r.Attach(m);
    m.SetValue(1234);
    EXPECT_EQ(m.Value(), 1234);
    EXPECT_TRUE(m.Rolling());
    // Position 1 shows its first blur frame before SetValue returns.
    EXPECT_EQ(m.Frame(1), 10);
    EXPECT_EQ(m.Digit(1), 0);
    r.Drain(m);
    EXPECT_EQ(r.Text(), Join({Spins(1, 4, 25), Spins(2, 3, 25), Spins(3, 2, 25), Spins(4, 1, 25),
                              Still(5, 0), Still(6, 0), Still(7, 0), Still(8, 0)}));
    EXPECT_EQ(Shown(m), "00001234");
    EXPECT_EQ(r.Clicks, 0); // muted by default
    for (int p = 1; p <= 8; ++p) EXPECT_LT(m.Frame(p), 10) << p;
}

TEST(AWPMeterValue, OnlyTheLowestDigitsShowAndNegativesShowTheirMagnitude) {
    TAWPMeter m;
    m.SetSpin(false);
    m.SetValue(123456789);
    EXPECT_FALSE(m.Rolling());
    EXPECT_EQ(Shown(m), "23456789");
    EXPECT_EQ(m.Value(), 123456789);
    m.SetValue(-5);
    EXPECT_EQ(Shown(m), "00000005");
    EXPECT_EQ(m.Value(), -5);
    m.SetValue(INT32_MIN);
    EXPECT_EQ(Shown(m), "47483648");
    m.SetNumDigits(16);
    m.FinishRoll();
    m.SetValue(INT32_MIN);
    EXPECT_EQ(Shown(m), "0000002147483648");
    m.SetNumDigits(3);
    m.FinishRoll();
    m.SetValue(-1999);
    EXPECT_EQ(Shown(m), "999");
}

TEST(AWPMeterValue, TheSameValueSpinsNothingButClicksWhenNotMuted) {
    TAWPMeter m;
    m.SetSpeed(TAWPMeter::spSlow);
    m.SetValue(77);
    m.FinishRoll();
    TRecorder r;
    r.Attach(m);
    m.SetMuteClicks(false);
    m.SetValue(77);
    EXPECT_FALSE(m.Rolling());
    EXPECT_EQ(r.Text(), Join({"click", Still(1, 7), Still(2, 7), Still(3, 0), Still(4, 0),
                              Still(5, 0), Still(6, 0), Still(7, 0), Still(8, 0)}));
    // Muted: the same redraw, no click.
    r.Clear();
    m.SetMuteClicks(true);
    m.SetValue(77);
    EXPECT_EQ(r.Clicks, 1);
    EXPECT_EQ(r.Log.size(), 8u);
}

TEST(AWPMeterValue, TheClickComesFirstAndFollowsTheSpeed) {
    TAWPMeter m;
    m.SetMuteClicks(false);
    std::vector<TAWPMeter::eSpeeds> heard;
    m.OnClick = [&](TAWPMeter* Sender, TAWPMeter::eSpeeds S) {
        EXPECT_EQ(Sender, &m);
        // Nothing has turned yet when the click starts.
        EXPECT_EQ(Sender->Frame(1), Sender->Digit(1));
        heard.push_back(S);
    };
    for (auto s : {TAWPMeter::spSlow, TAWPMeter::spMedium, TAWPMeter::spFast,
                   TAWPMeter::spVeryFast, TAWPMeter::spImmediate}) {
        m.SetSpeed(s);
        m.SetValue(m.Value() + 1);
        m.FinishRoll();
    }
    EXPECT_EQ(heard, (std::vector<TAWPMeter::eSpeeds>{TAWPMeter::spSlow, TAWPMeter::spMedium,
                                                      TAWPMeter::spFast, TAWPMeter::spVeryFast}));
}

TEST(AWPMeterValue, ImmediateOrSpinOffDrawsAtOnceAndImmediateIsSilent) {
    TAWPMeter m;
    TRecorder r;
    r.Attach(m);
    m.SetMuteClicks(false);
    m.SetSpeed(TAWPMeter::spImmediate);
    m.SetValue(21);
    // The blur frames are still shown, with no wait between them.
    EXPECT_FALSE(m.Rolling());
    EXPECT_EQ(r.Text(), Join({"1:10", "1:11", "1:12", "1:1", "2:10", "2:11", "2:12", "2:2",
                              Still(3, 0), Still(4, 0), Still(5, 0), Still(6, 0), Still(7, 0),
                              Still(8, 0)}));
    EXPECT_EQ(r.Clicks, 0);
    m.PlayClick();
    EXPECT_EQ(r.Clicks, 0);

    r.Clear();
    m.SetSpeed(TAWPMeter::spSlow);
    m.SetSpin(false);
    m.SetValue(35);
    EXPECT_FALSE(m.Rolling());
    EXPECT_EQ(Shown(m), "00000035");
    EXPECT_EQ(r.Text(), Join({"click", Still(1, 5), Still(2, 3), Still(3, 0), Still(4, 0),
                              Still(5, 0), Still(6, 0), Still(7, 0), Still(8, 0)}));
}

TEST(AWPMeterValue, EachSpeedWaitsItsBlurFrameDelay) {
    for (auto s : {TAWPMeter::spSlow, TAWPMeter::spMedium, TAWPMeter::spFast,
                   TAWPMeter::spVeryFast}) {
        TAWPMeter m;
        m.SetSpeed(s);
        TRecorder r;
        r.Attach(m);
        m.SetValue(10);
        r.Drain(m);
        const int wait = TAWPMeter::SpeedEntry(s).BlurFrameDelay;
        EXPECT_EQ(r.Text(), Join({Still(1, 0), Spins(2, 1, wait), Still(3, 0), Still(4, 0),
                                  Still(5, 0), Still(6, 0), Still(7, 0), Still(8, 0)}))
            << int(s);
    }
}

TEST(AWPMeterValue, TheTimerDrivesTheRollWithoutHelp) {
    QWidget parent;
    auto* m = new TAWPMeter(&parent);
    m->SetSpeed(TAWPMeter::spVeryFast);
    parent.show();
    TRecorder r;
    r.Attach(*m);
    m->SetValue(907);
    // A guard against a roll that never ends, not a measure of its speed.
    QElapsedTimer guard;
    guard.start();
    while (m->Rolling() && guard.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_FALSE(m->Rolling());
    EXPECT_EQ(Shown(*m), "00000907");
    EXPECT_EQ(r.Text(), Join({"1:10", "1:11", "1:12", "1:7", "2:0", "3:10", "3:11", "3:12",
                                  "3:9", "4:0", "5:0", "6:0", "7:0", "8:0"}));
}

// ---- Rolling to zero ----

TEST(AWPMeterReset, RollsThroughAllNinesOverToZeros) {
    TAWPMeter m;
    m.SetValue(1234);
    m.FinishRoll();
    m.SetMuteClicks(false);
    TRecorder r;
    r.Attach(m);
    m.ResetRoll();
    EXPECT_EQ(m.Value(), 99999999);
    r.Drain(m);
    std::vector<std::string> expected;
    for (int p = 1; p <= 8; ++p) expected.push_back(Spins(p, 9, 25));
    for (int f = 10; f <= 12; ++f) {
        for (int p = 1; p <= 8; ++p) expected.push_back(Still(p, f));
        expected.push_back("w50");
    }
    expected.push_back("click");
    for (int p = 1; p <= 8; ++p) expected.push_back(Still(p, 0));
    // The last wait is the one after frame 12; the zeros follow it.
    EXPECT_EQ(r.Text(), Join(expected));
    EXPECT_EQ(m.Value(), 0);
    EXPECT_EQ(Shown(m), "00000000");
}

TEST(AWPMeterReset, ValueHoldsTheNinesWhileRollingAndNinesDrumsDoNotSpin) {
    TAWPMeter m;
    m.SetSpin(false);
    m.SetValue(99999990);
    TRecorder r;
    r.Attach(m);
    m.SetSpin(true);
    m.ResetRoll();
    EXPECT_EQ(m.Value(), 99999999);
    r.Drain(m);
    // Only position 1 was not already a nine.
    EXPECT_EQ(r.Log[0], "1:10");
    EXPECT_EQ(r.Log[6], "1:9");
    EXPECT_EQ(r.Log[7], "2:9");
    EXPECT_EQ(m.Value(), 0);

    // Spin off: the nines at once, the closing frames still wait.
    m.SetSpin(false);
    m.SetValue(5);
    r.Clear();
    m.ResetRoll();
    EXPECT_TRUE(m.Rolling());
    EXPECT_EQ(Shown(m), "99999999");
    EXPECT_EQ(m.Frame(1), 10);
    EXPECT_EQ(m.Frame(8), 10);
    EXPECT_EQ(m.WaitingDelay(), 50);
    r.Drain(m);
    EXPECT_EQ(Shown(m), "00000000");
}

TEST(AWPMeterReset, WideMetersHoldTheWidestNinesAnIntHolds) {
    TAWPMeter m;
    m.SetSpin(false);
    m.SetNumDigits(9);
    EXPECT_EQ(m.Value(), 999999999);
    m.FinishRoll();
    EXPECT_EQ(m.Value(), 0);
    m.SetNumDigits(12);
    EXPECT_EQ(m.Value(), 999999999);
    EXPECT_EQ(Shown(m), "999999999999");
    m.FinishRoll();
    EXPECT_EQ(Shown(m), "000000000000");
    m.SetNumDigits(6);
    EXPECT_EQ(m.Value(), 999999);
    m.FinishRoll();
    EXPECT_EQ(m.Value(), 0);
}

TEST(AWPMeterReset, ImmediateResetIsDoneBeforeItReturns) {
    TAWPMeter m;
    m.SetSpeed(TAWPMeter::spImmediate);
    m.SetValue(4321);
    TRecorder r;
    r.Attach(m);
    m.SetMuteClicks(false);
    m.ResetRoll();
    EXPECT_FALSE(m.Rolling());
    EXPECT_EQ(m.Value(), 0);
    EXPECT_EQ(r.Clicks, 0);
    // Position 8's turn to nine, then the closing frame.
    EXPECT_EQ(std::count(r.Log.begin(), r.Log.end(), "8:12"), 2);
    EXPECT_EQ(r.Log.back(), "8:0");
}

TEST(AWPMeterReset, AThrowingObserverStillLeavesZero) {
    TAWPMeter m;
    m.SetSpeed(TAWPMeter::spImmediate);
    m.SetValue(555);
    int seen = 0;
    m.OnFrameShown = [&](TAWPMeter*, int, int F) {
        if (F == 11 && ++seen == 3) throw std::runtime_error("observer");
    };
    EXPECT_THROW(m.ResetRoll(), std::runtime_error);
    EXPECT_EQ(m.Value(), 0);
    EXPECT_EQ(Shown(m), "00000000");
    EXPECT_FALSE(m.Rolling());
    for (int p = 1; p <= 8; ++p) EXPECT_EQ(m.Frame(p), 0);
    // A value update interrupted the same way lands on its value.
    seen = 0;
    EXPECT_THROW(m.SetValue(8642), std::runtime_error);
    EXPECT_EQ(Shown(m), "00008642");
    EXPECT_EQ(m.Value(), 8642);
}

// ---- Updates while rolling ----

TEST(AWPMeterOverlap, ANewValueMidRollFinishesTheTurningDrumThenRollsOn) {
    TAWPMeter m;
    TRecorder r;
    r.Attach(m);
    m.SetValue(1234);
    while (m.Frame(2) != 11) m.StepRoll();
    r.Clear();
    m.SetValue(5678);
    EXPECT_EQ(m.Value(), 5678);
    // Position 2 keeps showing frame 11 for the rest of its wait.
    EXPECT_EQ(m.Frame(2), 11);
    EXPECT_EQ(m.WaitingDelay(), 25);
    EXPECT_TRUE(r.Log.empty());
    r.Drain(m);
    EXPECT_EQ(r.Text(), Join({"w25", "2:12", "w25", "2:7", Spins(1, 8, 25), Still(2, 7),
                              Spins(3, 6, 25), Spins(4, 5, 25), Still(5, 0), Still(6, 0),
                              Still(7, 0), Still(8, 0)}));
    EXPECT_EQ(Shown(m), "00005678");
}

TEST(AWPMeterOverlap, ANewValueThatUndoesTheTurnStillLandsTheDrumFirst) {
    TAWPMeter m;
    TRecorder r;
    r.Attach(m);
    m.SetValue(30);
    while (m.Frame(2) != 10) m.StepRoll();
    r.Clear();
    m.SetValue(0);
    r.Drain(m);
    // Position 2 was turning from 0 to 3; it completes the turn onto 0.
    EXPECT_EQ(r.Text(), Join({"w25", "2:11", "w25", "2:12", "w25", "2:0", Still(1, 0), Still(2, 0),
                              Still(3, 0), Still(4, 0), Still(5, 0), Still(6, 0), Still(7, 0),
                              Still(8, 0)}));
    EXPECT_EQ(Shown(m), "00000000");
}

TEST(AWPMeterOverlap, SpinOffOrImmediateMidRollLandsAtOnce) {
    TAWPMeter m;
    m.SetValue(1234);
    while (m.Frame(3) != 11) m.StepRoll();
    m.SetSpin(false);
    m.SetValue(99);
    EXPECT_FALSE(m.Rolling());
    EXPECT_EQ(Shown(m), "00000099");
    for (int p = 1; p <= 8; ++p) EXPECT_LT(m.Frame(p), 10);

    m.SetSpin(true);
    m.SetValue(1111);
    while (m.Frame(2) != 12) m.StepRoll();
    m.SetSpeed(TAWPMeter::spImmediate);
    m.SetValue(2222);
    EXPECT_FALSE(m.Rolling());
    EXPECT_EQ(Shown(m), "00002222");
}

TEST(AWPMeterOverlap, AValueDuringTheResetsClosingFramesWins) {
    TAWPMeter m;
    m.SetMuteClicks(false);
    m.SetValue(12);
    m.FinishRoll();
    TRecorder r;
    r.Attach(m);
    m.ResetRoll();
    while (m.Frame(1) != 11 || m.Frame(8) != 11) m.StepRoll();
    r.Clear();
    m.SetValue(40);
    EXPECT_EQ(m.Value(), 40);
    r.Drain(m);
    std::vector<std::string> expected{"click", "w50"};
    for (int p = 1; p <= 8; ++p) expected.push_back(Still(p, 12));
    expected.push_back("w50");
    // Every drum lands on the new value's digit; then the ordinary pass.
    const int digits[] = {0, 0, 4, 0, 0, 0, 0, 0, 0};
    for (int p = 1; p <= 8; ++p) expected.push_back(Still(p, digits[p]));
    for (int p = 1; p <= 8; ++p) expected.push_back(Still(p, digits[p]));
    EXPECT_EQ(r.Text(), Join(expected));
    // The superseded reset neither clicked again nor zeroed the value.
    EXPECT_EQ(r.Clicks, 1);
    EXPECT_EQ(m.Value(), 40);
    EXPECT_EQ(Shown(m), "00000040");
}

TEST(AWPMeterOverlap, AResetDuringAValueRollFinishesTheDrumOntoNine) {
    TAWPMeter m;
    TRecorder r;
    r.Attach(m);
    m.SetValue(500);
    while (m.Frame(3) != 10) m.StepRoll();
    r.Clear();
    m.ResetRoll();
    EXPECT_EQ(m.Value(), 99999999);
    r.Drain(m);
    ASSERT_GE(r.Log.size(), 6u);
    EXPECT_EQ(Join({r.Log[0], r.Log[1], r.Log[2], r.Log[3], r.Log[4], r.Log[5]}),
              "w25 3:11 w25 3:12 w25 3:9");
    // Then the nines pass from position 1 leaves position 3 alone.
    EXPECT_EQ(r.Log[6], "1:10");
    // Position 3 shows frame 10 again only in the closing frames.
    EXPECT_EQ(std::count(r.Log.begin(), r.Log.end(), "3:10"), 1);
    EXPECT_EQ(std::count(r.Log.begin(), r.Log.end(), "3:11"), 2);
    EXPECT_EQ(m.Value(), 0);
    EXPECT_EQ(Shown(m), "00000000");
}

TEST(AWPMeterOverlap, ABurstOfUpdatesKeepsTheQueueSmallAndOneDrumTurning) {
    TAWPMeter m;
    m.SetSpeed(TAWPMeter::spSlow);
    TRecorder r;
    r.Attach(m);
    int most = 0;
    for (int i = 1; i <= 2000; ++i) {
        m.SetValue(i * 7919);
        most = std::max(most, m.PendingSteps());
        if (i % 3 == 0) m.StepRoll();
    }
    EXPECT_LE(most, 4 * 8 + 4);
    m.FinishRoll();
    EXPECT_EQ(m.Value(), 2000 * 7919);
    EXPECT_EQ(Shown(m), "15838000");
    EXPECT_LE(r.MostBlurring, 1);
    // Every blur frame at a position is followed there by the next one or a digit.
    std::array<int, 17> last{};
    for (const std::string& e : r.Log) {
        const auto colon = e.find(':');
        if (colon == std::string::npos) continue;
        const int p = std::stoi(e.substr(0, colon));
        const int f = std::stoi(e.substr(colon + 1));
        const int before = last[static_cast<std::size_t>(p)];
        if (before >= 10 && before < 12) {
            EXPECT_EQ(f, before + 1) << e;
        }
        if (f >= 11) {
            EXPECT_EQ(before, f - 1) << e;
        }
        last[static_cast<std::size_t>(p)] = f;
    }
}

TEST(AWPMeterOverlap, AnObserverUpdatingTheMeterDoesNotNest) {
    TAWPMeter m;
    m.SetSpeed(TAWPMeter::spImmediate);
    int depth = 0, deepest = 0, updates = 0;
    m.OnFrameShown = [&](TAWPMeter* Sender, int, int F) {
        ++depth;
        deepest = std::max(deepest, depth);
        if (F == 10 && updates < 50) {
            ++updates;
            Sender->SetValue(Sender->Value() + 1);
        }
        --depth;
    };
    m.SetValue(1);
    EXPECT_FALSE(m.Rolling());
    // The observer's update is queued, not run inside it; at most the drum
    // caught in a blur frame is redrawn from within.
    EXPECT_LE(deepest, 2);
    EXPECT_EQ(m.Value(), 51);
    EXPECT_EQ(Shown(m), "00000051");
}

TEST(AWPMeterOverlap, FifteenMetersRollingAtOnceWithBurstsFinishCorrectly) {
    QWidget parent;
    std::vector<TAWPMeter*> meters;
    std::vector<TRecorder> recorders(15);
    for (int i = 0; i < 15; ++i) {
        auto* m = new TAWPMeter(&parent);
        m->SetNumDigits(i < 10 ? 8 : 6);
        m->FinishRoll();
        m->SetSpeed(TAWPMeter::spVeryFast);
        m->SetMuteClicks(false);
        recorders[static_cast<std::size_t>(i)].Attach(*m);
        meters.push_back(m);
    }
    parent.show();
    // Lowest stack address seen by any observer: nested loops would sink it.
    std::uintptr_t lowest = 0;
    std::uintptr_t first = 0;
    for (TAWPMeter* m : meters) {
        auto inner = m->OnFrameShown;
        m->OnFrameShown = [inner, &lowest, &first](TAWPMeter* S, int P, int F) {
            volatile char here = 0;
            const auto at = reinterpret_cast<std::uintptr_t>(&here);
            if (!first) first = at;
            if (!lowest || at < lowest) lowest = at;
            inner(S, P, F);
        };
    }
    std::vector<std::int32_t> last(15, 0);
    for (int round = 1; round <= 40; ++round) {
        for (int i = 0; i < 15; ++i) {
            last[static_cast<std::size_t>(i)] = round * 1111 + i * 37;
            meters[static_cast<std::size_t>(i)]->SetValue(last[static_cast<std::size_t>(i)]);
        }
        // Let the timers run a little between bursts.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QElapsedTimer guard;
    guard.start();
    auto anyRolling = [&] {
        return std::any_of(meters.begin(), meters.end(), [](TAWPMeter* m) { return m->Rolling(); });
    };
    while (anyRolling() && guard.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ASSERT_FALSE(anyRolling());
    for (int i = 0; i < 15; ++i) {
        const auto k = static_cast<std::size_t>(i);
        TAWPMeter* m = meters[k];
        EXPECT_EQ(m->Value(), last[k]) << i;
        char text[32];
        const int modulus = i < 10 ? 100000000 : 1000000;
        std::snprintf(text, sizeof text, "%0*d", m->NumDigits(), int(last[k] % modulus));
        EXPECT_EQ(Shown(*m), text) << i;
        EXPECT_EQ(recorders[k].Clicks, 40) << i;
        EXPECT_LE(recorders[k].MostBlurring, 1) << i;
    }
    ASSERT_NE(first, 0u);
    EXPECT_LT(first - lowest, 64 * 1024);
}

// ---- Clicks without a sound device ----

TEST(AWPMeterClicks, WithoutAnAudioOutputClicksAreSilentAndQuiet) {
    const bool outputs = !QMediaDevices::audioOutputs().isEmpty();
    EXPECT_EQ(ClickSoundAudible(), outputs);
    if (outputs) GTEST_SKIP() << "this machine has an audio output";
    static int messages = 0;
    messages = 0;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString&) { ++messages; });
    TAWPMeter m;
    m.SetMuteClicks(false);
    int clicks = 0;
    m.OnClick = [&](TAWPMeter*, TAWPMeter::eSpeeds) { ++clicks; };
    for (auto s : {TAWPMeter::spSlow, TAWPMeter::spFast, TAWPMeter::spVeryFast}) {
        m.SetSpeed(s);
        for (int i = 0; i < 30; ++i) m.PlayClick();
    }
    PlayClickSound(csMtrNorm);
    qInstallMessageHandler(previous);
    EXPECT_EQ(clicks, 90);
    EXPECT_EQ(messages, 0);
    // No player was made for a device that is not there.
    EXPECT_TRUE(qApp->findChildren<QSoundEffect*>().isEmpty());
}

// ---- Picture ----

namespace {

struct TPicture {
    QWidget Parent;
    TAWPMeter* Meter;
    TPicture() {
        Parent.resize(137, 57);
        Parent.setAutoFillBackground(true);
        QPalette pal = Parent.palette();
        pal.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0)); // the page's silver
        Parent.setPalette(pal);
        Meter = new TAWPMeter(&Parent);
        Meter->setGeometry(8, 8, 121, 41);
        Meter->SetBorderWidthX(4);
        Meter->SetBorderWidthY(4);
        Meter->SetCaption(QStringLiteral("In"));
        Meter->SetSpeed(TAWPMeter::spVeryFast);
    }
};

} // namespace

TEST(AWPMeterPicture, BevelWindowAndBorderFollowTheEdgesExactly) {
    TPicture pic;
    TAWPMeter& m = *pic.Meter;
    m.SetTransparent(false);
    m.SetBorderColour(QColor(0x3B, 0x3B, 0x3B));
    m.SetSpeed(TAWPMeter::spImmediate);
    m.SetValue(8);
    const QImage img = m.grab().toImage();
    ASSERT_EQ(img.size(), QSize(121, 41));
    const TMeterRect w = m.WindowRect();
    auto at = [&](int X, int Y) { return QColor(img.pixel(X, Y)); };
    const QColor grey(0x80, 0x80, 0x80), white(Qt::white), black(Qt::black),
        border(0x3B, 0x3B, 0x3B);
    EXPECT_EQ(at(0, 0), border);
    EXPECT_EQ(at(120, 40), border);
    // Grey along the top and left.
    EXPECT_EQ(at(w.Left - 1, w.Top - 1), grey);
    EXPECT_EQ(at(w.Right - 1, w.Top - 1), grey);
    EXPECT_EQ(at(w.Left - 1, w.Bottom), grey);
    // Their end points are left out.
    EXPECT_EQ(at(w.Right, w.Top - 1), border);
    EXPECT_EQ(at(w.Left - 1, w.Bottom + 1), border);
    // White along the bottom and right.
    EXPECT_EQ(at(w.Left, w.Bottom + 1), white);
    EXPECT_EQ(at(w.Right, w.Bottom + 1), white);
    EXPECT_EQ(at(w.Right + 1, w.Top - 1), white);
    EXPECT_EQ(at(w.Right + 1, w.Bottom), white);
    EXPECT_EQ(at(w.Right + 1, w.Bottom + 1), border);
    // Black window right of position 1, beyond its one-pixel gap.
    EXPECT_EQ(at(w.Right - 1, (w.Top + w.Bottom) / 2), black);
    // The drums: position 1 shows an 8 (white ink), position 2 a 0.
    const TMeterRect d1 = m.DigitRect(1);
    int bright = 0;
    for (int y = d1.Top; y < d1.Bottom; ++y)
        for (int x = d1.Left; x < d1.Right; ++x)
            if (qGray(img.pixel(x, y)) > 180) ++bright;
    EXPECT_GT(bright, 8);
    // The caption, white, centred above the window.
    const QPoint c = m.CaptionOrigin();
    int captionInk = 0;
    for (int y = c.y(); y < c.y() + m.CaptionHeight(); ++y)
        for (int x = std::max(0, c.x()); x < std::min(121, c.x() + m.CaptionWidth()); ++x)
            if (qGray(img.pixel(x, y)) > 200) ++captionInk;
    EXPECT_GT(captionInk, 5);
}

TEST(AWPMeterPicture, TransparentShowsTheParentAndNoParentDrawsNothing) {
    TPicture pic;
    const QImage img = pic.Parent.grab().toImage();
    // Corner of the meter at (8, 8) in the parent: the silver shows through.
    EXPECT_EQ(QColor(img.pixel(8, 8)), QColor(0xC0, 0xC0, 0xC0));
    const TMeterRect w = pic.Meter->WindowRect();
    EXPECT_EQ(QColor(img.pixel(8 + w.Right - 1, 8 + w.Top + 2)), QColor(Qt::black));

    TAWPMeter alone;
    alone.SetTransparent(false);
    const QImage own = alone.grab().toImage();
    const TMeterRect aw = alone.WindowRect();
    EXPECT_NE(QColor(own.pixel(aw.Right - 1, aw.Top + 2)), QColor(Qt::black));
    EXPECT_NE(QColor(own.pixel(0, 0)), alone.BorderColour());
}

TEST(AWPMeterPicture, MidRollPictureForReview) {
    TPicture pic;
    TAWPMeter& m = *pic.Meter;
    m.SetSpeed(TAWPMeter::spImmediate);
    m.SetValue(1386);
    m.SetSpeed(TAWPMeter::spVeryFast);
    m.SetValue(1407);
    // Positions 1 and 2 done, position 3 between the digits.
    while (m.Frame(3) != 11) ASSERT_TRUE(m.StepRoll());
    EXPECT_EQ(m.Digit(1), 7);
    EXPECT_EQ(m.Digit(2), 0);
    const QImage roll = pic.Parent.grab().toImage();
    m.FinishRoll();
    m.ResetRoll();
    while (m.Frame(1) != 11 || m.Frame(8) != 11) ASSERT_TRUE(m.StepRoll());
    const QImage reset = pic.Parent.grab().toImage();
    m.FinishRoll();
    const QImage still = pic.Parent.grab().toImage();

    // The three moments side by side, then the same four times the size.
    QImage strip(roll.width() * 3, roll.height(), QImage::Format_RGB32);
    QPainter painter(&strip);
    painter.drawImage(0, 0, roll);
    painter.drawImage(roll.width(), 0, reset);
    painter.drawImage(roll.width() * 2, 0, still);
    painter.end();
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(VOLMAR_ARTEFACT_DIR)));
    ASSERT_TRUE(roll.save(QStringLiteral(VOLMAR_ARTEFACT_DIR "/meter_mid_roll.png")));
    ASSERT_TRUE(strip.scaled(strip.size() * 4)
                    .save(QStringLiteral(VOLMAR_ARTEFACT_DIR "/meter_roll_moments_x4.png")));
    // The blur frame is on screen: the picture differs from the settled one there.
    const TMeterRect d3 = m.DigitRect(3);
    int differing = 0;
    for (int y = d3.Top; y < d3.Bottom; ++y)
        for (int x = d3.Left; x < d3.Right; ++x)
            if (roll.pixel(8 + x, 8 + y) != still.pixel(8 + x, 8 + y)) ++differing;
    EXPECT_GT(differing, 20);
}

// What reaches the screen after a change matches a fresh picture of the
// meter, so the drums' own repaints land where the drums are.
TEST(AWPMeterPicture, TheScreenShowsTheNewDigitsAfterAChange) {
    TPicture pic;
    TAWPMeter& m = *pic.Meter;
    m.SetSpeed(TAWPMeter::spImmediate);
    pic.Parent.show();
    const auto rgb = [](const QImage& Image) { return Image.convertToFormat(QImage::Format_RGB32); };
    const auto onScreen = [&] {
        return rgb(pic.Parent.screen()->grabWindow(pic.Parent.winId()).toImage());
    };
    const auto showsLatest = [&] {
        return volmar::testing::PumpUntil(
            [&] { return onScreen() == rgb(pic.Parent.grab().toImage()); }, 1000);
    };
    ASSERT_TRUE(showsLatest());
    const QImage zeros = onScreen();
    m.SetValue(1); // 00000001: only position 1 changes
    EXPECT_TRUE(showsLatest()) << "the change never reached the screen";
    EXPECT_NE(onScreen(), zeros);
}

// The indicator lamp: properties, the flash and pulse phases (driven by
// calling the timer handler), insets, painting and the shape rule.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include "widgets/led.h"

namespace volmar {
namespace {

const QColor kGrey(0x80, 0x80, 0x80);
const QColor kDark(0x80, 0, 0);
const QColor kBlack(Qt::black);

TEST(LedTest, DefaultsVersionAndNegativeValues) {
    TLED led;
    EXPECT_EQ(led.size(), QSize(15, 15));
    EXPECT_EQ(led.BorderPercent(), 10);
    EXPECT_EQ(led.BorderColour(), kGrey);
    EXPECT_EQ(led.EdgeColour(), kBlack);
    EXPECT_EQ(led.OnColour(), QColor(Qt::red));
    EXPECT_EQ(led.OffColour(), kDark);
    EXPECT_EQ(led.LEDType(), ltConstant);
    EXPECT_EQ(led.LEDShape(), shRound);
    EXPECT_EQ(led.State(), stOff);
    EXPECT_EQ(led.BorderInsetX(), 1) << "15 x 10 / 200 = 0.75 rounds to 1";
    led.SetVersion(3.5f);
    EXPECT_FLOAT_EQ(led.Version(), 1.2f);

    led.SetBorderPercent(-1);
    led.SetFlashOnDelay(-5);
    led.SetFlashOffDelay(-5);
    led.SetPulseDelay(-1);
    EXPECT_EQ(led.BorderPercent(), 10);
    EXPECT_EQ(led.FlashOnDelay(), 200);
    EXPECT_EQ(led.FlashOffDelay(), 200);
    EXPECT_EQ(led.PulseDelay(), 400);
    led.SetBorderPercent(20);
    EXPECT_EQ(led.BorderInsetX(), 2) << "1.5 rounds up";
    led.SetBorderPercent(0);
    EXPECT_EQ(led.BorderInsetY(), 0);
}

TEST(LedTest, ConstantAndPulseLamps) {
    TLED led;
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit());
    EXPECT_FALSE(led.TimerActive()) << "a constant lamp needs no timer";
    led.LEDOnTimer();
    EXPECT_TRUE(led.Lit());

    led.SetLEDType(ltPulse);
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit());
    EXPECT_TRUE(led.TimerActive());
    EXPECT_EQ(led.TimerInterval(), 400);
    led.SetPulseDelay(250);
    led.LEDOnTimer();
    EXPECT_EQ(led.State(), stOff) << "the pulse ends by itself";
    EXPECT_FALSE(led.Lit());
    EXPECT_FALSE(led.TimerActive());
    led.SetState(stOn);
    EXPECT_EQ(led.TimerInterval(), 250) << "a new delay is for the next pulse";
}

TEST(LedTest, FlashingPhasesRestartAndFreeze) {
    TLED led;
    led.SetLEDType(ltFlashing);
    led.SetFlashOnDelay(400);
    led.SetFlashOffDelay(100);
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit());
    EXPECT_EQ(led.TimerInterval(), 400);
    led.LEDOnTimer();
    EXPECT_FALSE(led.Lit());
    EXPECT_EQ(led.State(), stOn);
    EXPECT_EQ(led.TimerInterval(), 100);
    EXPECT_TRUE(led.TimerActive());
    led.LEDOnTimer();
    EXPECT_TRUE(led.Lit());
    EXPECT_EQ(led.TimerInterval(), 400);

    led.LEDOnTimer();
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit()) << "switching on again restarts lit";
    EXPECT_EQ(led.TimerInterval(), 400);

    led.LEDOnTimer();
    led.SetLEDType(ltFlashing);
    EXPECT_FALSE(led.TimerActive()) << "a new kind stops the timer";
    EXPECT_FALSE(led.Lit()) << "frozen dark";
    led.SetState(stOn);
    EXPECT_TRUE(led.TimerActive());
    led.SetState(stOff);
    EXPECT_FALSE(led.Lit());
    EXPECT_FALSE(led.TimerActive());
}

TEST(LedTest, PaintsTheRingThenTheFillOrTheFillAlone) {
    TLED led;
    led.SetLEDShape(shRectangle);
    led.show();  // a hidden widget hears of a new size only when shown
    led.resize(40, 40);
    QCoreApplication::processEvents();
    ASSERT_EQ(led.BorderInsetX(), 2);
    QImage img = led.grab().toImage();
    EXPECT_EQ(img.pixelColor(0, 0), kBlack);
    EXPECT_EQ(img.pixelColor(1, 1), kGrey);
    EXPECT_EQ(img.pixelColor(2, 2), kBlack) << "the fill's edge";
    EXPECT_EQ(img.pixelColor(20, 20), kDark);
    EXPECT_EQ(img.pixelColor(38, 38), kGrey);
    EXPECT_EQ(img.pixelColor(39, 39), kBlack);

    led.SetBorderPercent(0);
    led.SetState(stOn);
    img = led.grab().toImage();
    EXPECT_EQ(img.pixelColor(0, 0), kBlack);
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::red)) << "no ring: the fill covers the control";
    EXPECT_EQ(img.pixelColor(38, 38), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(39, 39), kBlack);
}

TEST(LedTest, RoundAndSquareLampsTakeTheirWidthAtAPositionChange) {
    QWidget parent;
    parent.resize(100, 100);
    auto* round = new TLED(&parent);
    auto* ellipse = new TLED(&parent);
    ellipse->SetLEDShape(shEllipse);
    parent.show();
    round->resize(20, 10);
    ellipse->resize(20, 10);
    QCoreApplication::processEvents();
    EXPECT_EQ(round->size(), QSize(20, 20));
    EXPECT_EQ(round->BorderInsetY(), 1) << "insets follow the new height";
    EXPECT_EQ(ellipse->size(), QSize(20, 10));

    ellipse->SetLEDShape(shSquare);
    EXPECT_EQ(ellipse->size(), QSize(20, 10)) << "only at the next position change";
    ellipse->move(30, 30);
    QCoreApplication::processEvents();
    EXPECT_EQ(ellipse->size(), QSize(20, 20));
}

} // namespace
} // namespace volmar

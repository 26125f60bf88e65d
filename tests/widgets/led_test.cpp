// The indicator lamp: properties, the flash and pulse phases (driven by
// calling the timer handler), insets, painting and the shape rule.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>

#include "widgets/led.h"

namespace volmar {
namespace {

QImage Picture(TLED& Led) { return Led.grab().toImage(); }

TEST(LedTest, DefaultsAndVersion) {
    TLED led;
    EXPECT_EQ(led.size(), QSize(15, 15));
    EXPECT_EQ(led.BorderPercent(), 10);
    EXPECT_EQ(led.BorderColour(), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(led.EdgeColour(), QColor(Qt::black));
    EXPECT_EQ(led.LEDType(), ltConstant);
    EXPECT_EQ(led.LEDShape(), shRound);
    EXPECT_EQ(led.OnColour(), QColor(Qt::red));
    EXPECT_EQ(led.OffColour(), QColor(0x80, 0, 0));
    EXPECT_EQ(led.FlashOnDelay(), 200);
    EXPECT_EQ(led.FlashOffDelay(), 200);
    EXPECT_EQ(led.PulseDelay(), 400);
    EXPECT_EQ(led.State(), stOff);
    EXPECT_FALSE(led.Lit());
    EXPECT_FALSE(led.TimerActive());

    EXPECT_FLOAT_EQ(led.Version(), 1.2f);
    led.SetVersion(3.5f);
    EXPECT_FLOAT_EQ(led.Version(), 1.2f) << "writing Version changes nothing";
}

TEST(LedTest, NegativeValuesAreIgnoredAndZeroIsAccepted) {
    TLED led;
    led.SetBorderPercent(-1);
    led.SetFlashOnDelay(-5);
    led.SetFlashOffDelay(-5);
    led.SetPulseDelay(-1);
    EXPECT_EQ(led.BorderPercent(), 10);
    EXPECT_EQ(led.FlashOnDelay(), 200);
    EXPECT_EQ(led.FlashOffDelay(), 200);
    EXPECT_EQ(led.PulseDelay(), 400);

    led.SetBorderPercent(0);
    led.SetFlashOnDelay(0);
    led.SetPulseDelay(0);
    EXPECT_EQ(led.BorderPercent(), 0);
    EXPECT_EQ(led.FlashOnDelay(), 0);
    EXPECT_EQ(led.PulseDelay(), 0);
}

TEST(LedTest, ConstantLampNeedsNoTimer) {
    TLED led;
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit());
    EXPECT_FALSE(led.TimerActive());
    led.LEDOnTimer();
    EXPECT_TRUE(led.Lit()) << "a stray tick does not put a constant lamp out";
    EXPECT_EQ(led.State(), stOn);
    EXPECT_FALSE(led.TimerActive());
    led.SetState(stOff);
    EXPECT_FALSE(led.Lit());
}

TEST(LedTest, PulseLightsOnceThenGoesOut) {
    TLED led;
    led.SetLEDType(ltPulse);
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit());
    EXPECT_EQ(led.State(), stOn);
    EXPECT_TRUE(led.TimerActive());
    EXPECT_EQ(led.TimerInterval(), 400);

    led.SetPulseDelay(250);
    EXPECT_EQ(led.TimerInterval(), 400) << "a new delay is for the next pulse";
    led.LEDOnTimer();
    EXPECT_EQ(led.State(), stOff);
    EXPECT_FALSE(led.Lit());
    EXPECT_FALSE(led.TimerActive());

    led.SetState(stOn);
    EXPECT_EQ(led.TimerInterval(), 250);
    EXPECT_TRUE(led.TimerActive());
}

TEST(LedTest, FlashingAlternatesWithItsOwnPhaseLengths) {
    TLED led;
    led.SetLEDType(ltFlashing);
    led.SetFlashOnDelay(400);
    led.SetFlashOffDelay(100);
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit()) << "lit at once";
    EXPECT_EQ(led.TimerInterval(), 400);
    EXPECT_TRUE(led.TimerActive());

    led.LEDOnTimer();
    EXPECT_FALSE(led.Lit());
    EXPECT_EQ(led.State(), stOn) << "dark phase, still switched on";
    EXPECT_EQ(led.TimerInterval(), 100);
    EXPECT_TRUE(led.TimerActive());

    led.LEDOnTimer();
    EXPECT_TRUE(led.Lit());
    EXPECT_EQ(led.TimerInterval(), 400);
    EXPECT_TRUE(led.TimerActive());

    // Switching on again while dark restarts with the lit phase.
    led.LEDOnTimer();
    ASSERT_FALSE(led.Lit());
    led.SetState(stOn);
    EXPECT_TRUE(led.Lit());
    EXPECT_EQ(led.TimerInterval(), 400);
    EXPECT_TRUE(led.TimerActive());

    led.SetState(stOff);
    EXPECT_FALSE(led.Lit()) << "off is drawn dark at once";
    EXPECT_FALSE(led.TimerActive());
}

TEST(LedTest, ChangingTheKindFreezesTheLamp) {
    TLED led;
    led.SetLEDType(ltFlashing);
    led.SetState(stOn);
    led.LEDOnTimer();
    ASSERT_FALSE(led.Lit());

    led.SetLEDType(ltFlashing);
    EXPECT_FALSE(led.TimerActive()) << "the timer is not re-enabled";
    EXPECT_FALSE(led.Lit()) << "frozen in its current colour";
    EXPECT_EQ(led.State(), stOn);

    led.SetLEDType(ltPulse);
    EXPECT_EQ(led.TimerInterval(), 400) << "the interval is prepared for the new kind";
    EXPECT_FALSE(led.TimerActive());

    led.SetState(stOn);
    EXPECT_TRUE(led.Lit());
    EXPECT_TRUE(led.TimerActive()) << "setting State starts it again";
}

TEST(LedTest, ZeroLengthPhaseStopsTheFlashing) {
    TLED led;
    led.SetLEDType(ltFlashing);
    led.SetFlashOffDelay(0);
    led.SetState(stOn);
    ASSERT_TRUE(led.TimerActive());
    led.LEDOnTimer();
    EXPECT_FALSE(led.Lit());
    EXPECT_FALSE(led.TimerActive()) << "a timer of 0 ms never fires";
}

TEST(LedTest, BorderInsetsRoundToTheNearestPixel) {
    TLED led;
    EXPECT_EQ(led.BorderInsetX(), 1) << "15 x 10 / 200 = 0.75";
    EXPECT_EQ(led.BorderInsetY(), 1);
    led.SetBorderPercent(20);
    EXPECT_EQ(led.BorderInsetX(), 2) << "1.5 rounds up";
    led.SetBorderPercent(0);
    EXPECT_EQ(led.BorderInsetX(), 0);
    EXPECT_EQ(led.BorderInsetY(), 0);

    led.SetLEDShape(shRectangle);
    led.SetBorderPercent(10);
    led.show();  // a hidden widget hears of its new size only when shown
    led.resize(40, 20);
    QCoreApplication::processEvents();
    EXPECT_EQ(led.BorderInsetX(), 2);
    EXPECT_EQ(led.BorderInsetY(), 1);
}

TEST(LedTest, PaintsBorderRingThenFill) {
    TLED led;
    led.SetLEDShape(shRectangle);
    led.show();
    led.resize(40, 40);
    QCoreApplication::processEvents();
    ASSERT_EQ(led.BorderInsetX(), 2);
    const QColor grey(0x80, 0x80, 0x80);
    const QColor dark(0x80, 0, 0);

    QImage img = Picture(led);
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::black)) << "edge of the ring";
    EXPECT_EQ(img.pixelColor(1, 1), grey);
    EXPECT_EQ(img.pixelColor(2, 2), QColor(Qt::black)) << "edge of the fill";
    EXPECT_EQ(img.pixelColor(3, 3), dark);
    EXPECT_EQ(img.pixelColor(20, 20), dark);
    EXPECT_EQ(img.pixelColor(37, 37), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(38, 38), grey);
    EXPECT_EQ(img.pixelColor(39, 39), QColor(Qt::black));

    led.SetState(stOn);
    img = Picture(led);
    EXPECT_EQ(img.pixelColor(20, 20), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(1, 1), grey);

    led.SetEdgeColour(Qt::blue);
    led.SetBorderColour(Qt::yellow);
    led.SetOnColour(Qt::green);
    img = Picture(led);
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::yellow));
    EXPECT_EQ(img.pixelColor(20, 20), QColor(Qt::green));
}

TEST(LedTest, NoBorderFillsTheWholeControl) {
    TLED led;
    led.SetLEDShape(shRectangle);
    led.SetBorderPercent(0);
    led.resize(40, 40);
    QCoreApplication::processEvents();
    const QImage img = Picture(led);
    const QColor dark(0x80, 0, 0);
    EXPECT_EQ(img.pixelColor(0, 0), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(1, 1), dark) << "no ring inside the edge";
    EXPECT_EQ(img.pixelColor(38, 38), dark);
    EXPECT_EQ(img.pixelColor(39, 39), QColor(Qt::black));
    EXPECT_EQ(img.pixelColor(39, 0), QColor(Qt::black));
}

TEST(LedTest, RoundLampIsDrawnAsAnEllipse) {
    TLED led;
    led.resize(40, 40);
    led.SetState(stOn);
    QCoreApplication::processEvents();
    const QImage img = Picture(led);
    EXPECT_EQ(img.pixelColor(20, 20), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(20, 1), QColor(0x80, 0x80, 0x80)) << "ring at the top middle";
    EXPECT_NE(img.pixelColor(1, 1), QColor(0x80, 0x80, 0x80)) << "the corner is outside";
    EXPECT_NE(img.pixelColor(1, 1), QColor(Qt::red));
}

TEST(LedTest, RoundAndSquareLampsTakeTheirWidthAtAPositionChange) {
    QWidget parent;
    parent.resize(100, 100);
    auto* round = new TLED(&parent);
    auto* ellipse = new TLED(&parent);
    auto* square = new TLED(&parent);
    ellipse->SetLEDShape(shEllipse);
    square->SetLEDShape(shSquare);
    parent.show();
    QCoreApplication::processEvents();

    round->resize(20, 10);
    ellipse->resize(20, 10);
    QCoreApplication::processEvents();
    EXPECT_EQ(round->size(), QSize(20, 20));
    EXPECT_EQ(ellipse->size(), QSize(20, 10)) << "an ellipse keeps any proportions";
    EXPECT_EQ(round->BorderInsetY(), 1) << "insets follow the new height";

    // A new shape takes effect at the next position change.
    ellipse->SetLEDShape(shRound);
    EXPECT_EQ(ellipse->size(), QSize(20, 10));
    ellipse->move(30, 30);
    QCoreApplication::processEvents();
    EXPECT_EQ(ellipse->size(), QSize(20, 20));

    square->resize(12, 30);
    QCoreApplication::processEvents();
    EXPECT_EQ(square->size(), QSize(12, 12));
}

} // namespace
} // namespace volmar

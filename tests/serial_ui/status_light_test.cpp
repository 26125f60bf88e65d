// The status lamp: colours and edges, which changes repaint it, the glyph.
#include <gtest/gtest.h>

#include <QPainter>
#include <QPaintEvent>

#include "serial/ui/status_light.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

TEST(StatusLightTest, PaintsColourAndEdgesAndRepaintsOnlyWhatShows) {
    TStatusLight lamp;
    EXPECT_EQ(lamp.size(), QSize(13, 13));
    lamp.resize(13, 12);
    QImage img = lamp.grab().toImage();
    const QColor white(255, 255, 255), grey(128, 128, 128);
    EXPECT_EQ(img.pixelColor(6, 6), QColor(0, 128, 0)) << "unlit green by default";
    EXPECT_EQ(img.pixelColor(12, 0), white) << "top edge to the right end";
    EXPECT_EQ(img.pixelColor(0, 11), white) << "left edge to the bottom";
    EXPECT_EQ(img.pixelColor(12, 1), grey);
    EXPECT_EQ(img.pixelColor(1, 11), grey);
    EXPECT_EQ(img.pixelColor(11, 10), QColor(0, 128, 0));

    const int start = lamp.RepaintRequests();
    lamp.SetLit(false);
    lamp.SetLitColor(QColor(0, 255, 0));
    EXPECT_EQ(lamp.RepaintRequests(), start) << "same state, colour not on show";
    lamp.SetLit(true);
    EXPECT_EQ(lamp.RepaintRequests(), start + 1);
    EXPECT_EQ(lamp.grab().toImage().pixelColor(6, 6), QColor(0, 255, 0));
    lamp.SetNotLitColor(Qt::blue);
    EXPECT_EQ(lamp.RepaintRequests(), start + 1);
    lamp.SetLitColor(Qt::red);
    EXPECT_EQ(lamp.RepaintRequests(), start + 2);
}

TEST(StatusLightTest, GlyphSizesTheLampAndShowsItsHalves) {
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(10, 20, 30));
    parent.setPalette(palette);
    auto* lamp = new TStatusLight(&parent);

    // Lime dot left, blue dot right, on a magenta ground named by the
    // top-left pixel.
    QPixmap glyph(26, 13);
    glyph.fill(Qt::magenta);
    {
        QPainter p(&glyph);
        p.fillRect(4, 4, 5, 5, QColor(0, 255, 0));
        p.fillRect(17, 4, 5, 5, Qt::blue);
    }
    lamp->SetGlyph(glyph);
    EXPECT_EQ(lamp->size(), QSize(13, 13));
    lamp->resize(30, 20);
    EXPECT_EQ(lamp->size(), QSize(13, 13)) << "held at the glyph's size";
    lamp->SetLit(true);
    QImage img = lamp->grab().toImage();
    EXPECT_EQ(img.pixelColor(6, 6), QColor(0, 255, 0));
    EXPECT_EQ(img.pixelColor(0, 0), QColor(10, 20, 30)) << "transparent: the parent shows";
    const int repaints = lamp->RepaintRequests();
    lamp->SetLitColor(Qt::yellow);
    EXPECT_EQ(lamp->RepaintRequests(), repaints) << "colours are not on show";
    lamp->SetLit(false);
    img = lamp->grab().toImage();
    EXPECT_EQ(img.pixelColor(6, 6), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(12, 12), QColor(10, 20, 30));

    lamp->SetGlyph(QPixmap());
    EXPECT_EQ(lamp->size(), QSize(13, 13));
    lamp->resize(30, 20);
    EXPECT_EQ(lamp->size(), QSize(30, 20)) << "without a glyph any size goes";
}

// A lamp on screen repaints itself after a change, without being asked again.
TEST(StatusLightTest, AChangeOfAShownLampReachesTheScreen) {
    struct TCountingLamp : TStatusLight {
        int Paints = 0;
        void paintEvent(QPaintEvent* Event) override {
            ++Paints;
            TStatusLight::paintEvent(Event);
        }
    } lamp;
    lamp.show();
    ASSERT_TRUE(testing::PumpUntil([&] { return lamp.Paints > 0; }));
    const int before = lamp.Paints;
    lamp.SetLit(true);
    EXPECT_TRUE(testing::PumpUntil([&] { return lamp.Paints > before; }));
}

} // namespace
} // namespace volmar

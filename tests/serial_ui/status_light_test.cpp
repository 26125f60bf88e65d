// The status lamp: its colours and edges, which changes repaint it, and the
// two-image glyph.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QPalette>

#include "serial/ui/status_light.h"

namespace volmar {
namespace {

const QColor kWhite(255, 255, 255);
const QColor kGrey(128, 128, 128);

QImage Picture(TStatusLight& Lamp) { return Lamp.grab().toImage(); }

// A glyph on a magenta ground: a lime dot on the left half, a blue one on
// the right.
QPixmap TwoDotGlyph(int Width, int Height) {
    QPixmap glyph(Width, Height);
    glyph.fill(Qt::magenta);
    QPainter p(&glyph);
    const int half = Width / 2;
    p.fillRect(half / 2 - 2, Height / 2 - 2, 5, 5, QColor(0, 255, 0));
    p.fillRect(half + half / 2 - 2, Height / 2 - 2, 5, 5, Qt::blue);
    return glyph;
}

TEST(StatusLightTest, Defaults) {
    TStatusLight lamp;
    EXPECT_EQ(lamp.size(), QSize(13, 13));
    EXPECT_FALSE(lamp.Lit());
    EXPECT_EQ(lamp.LitColor(), QColor(255, 0, 0));
    EXPECT_EQ(lamp.NotLitColor(), QColor(0, 128, 0));
    EXPECT_FALSE(lamp.HasGlyph());
}

TEST(StatusLightTest, PaintsColourWithWhiteTopLeftAndGreyBottomRight) {
    TStatusLight lamp;
    lamp.resize(13, 12);
    QImage img = Picture(lamp);
    EXPECT_EQ(img.pixelColor(6, 6), QColor(0, 128, 0));
    EXPECT_EQ(img.pixelColor(0, 0), kWhite);
    EXPECT_EQ(img.pixelColor(6, 0), kWhite);
    EXPECT_EQ(img.pixelColor(12, 0), kWhite) << "the top line runs to the right end";
    EXPECT_EQ(img.pixelColor(0, 6), kWhite);
    EXPECT_EQ(img.pixelColor(0, 11), kWhite) << "the left line runs to the bottom";
    EXPECT_EQ(img.pixelColor(12, 1), kGrey);
    EXPECT_EQ(img.pixelColor(12, 11), kGrey);
    EXPECT_EQ(img.pixelColor(1, 11), kGrey);
    EXPECT_EQ(img.pixelColor(6, 11), kGrey);
    EXPECT_EQ(img.pixelColor(11, 10), QColor(0, 128, 0)) << "edges are one pixel wide";

    lamp.SetLit(true);
    img = Picture(lamp);
    EXPECT_EQ(img.pixelColor(6, 6), QColor(255, 0, 0));
    EXPECT_EQ(img.pixelColor(1, 1), QColor(255, 0, 0));
}

TEST(StatusLightTest, RepaintsOnlyWhatIsOnShow) {
    TStatusLight lamp;
    const int start = lamp.RepaintRequests();
    lamp.SetLit(false);
    EXPECT_EQ(lamp.RepaintRequests(), start) << "an unchanged state does nothing";

    lamp.SetLitColor(QColor(0, 255, 0));
    EXPECT_EQ(lamp.RepaintRequests(), start) << "the lit colour is not on show";
    EXPECT_EQ(lamp.LitColor(), QColor(0, 255, 0));
    lamp.SetNotLitColor(QColor(0, 0, 128));
    EXPECT_EQ(lamp.RepaintRequests(), start + 1);

    lamp.SetLit(true);
    EXPECT_EQ(lamp.RepaintRequests(), start + 2);
    EXPECT_EQ(Picture(lamp).pixelColor(6, 6), QColor(0, 255, 0))
        << "the stored colour shows the next time it is lit";
    lamp.SetNotLitColor(QColor(1, 2, 3));
    EXPECT_EQ(lamp.RepaintRequests(), start + 2);
    lamp.SetLitColor(QColor(255, 255, 0));
    EXPECT_EQ(lamp.RepaintRequests(), start + 3);

    lamp.SetGlyph(TwoDotGlyph(26, 13));
    const int withGlyph = lamp.RepaintRequests();
    EXPECT_EQ(withGlyph, start + 4) << "a new glyph repaints";
    lamp.SetLitColor(Qt::red);
    lamp.SetNotLitColor(Qt::red);
    EXPECT_EQ(lamp.RepaintRequests(), withGlyph) << "colours are not on show with a glyph";
    lamp.SetLit(false);
    EXPECT_EQ(lamp.RepaintRequests(), withGlyph + 1);
}

TEST(StatusLightTest, GlyphSetsTheSizeAndShowsItsHalves) {
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(10, 20, 30));
    parent.setPalette(palette);
    auto* lamp = new TStatusLight(&parent);

    lamp->SetGlyph(TwoDotGlyph(26, 13));
    EXPECT_TRUE(lamp->HasGlyph());
    EXPECT_EQ(lamp->size(), QSize(13, 13));
    lamp->resize(30, 20);
    EXPECT_EQ(lamp->size(), QSize(13, 13)) << "a lamp with a glyph keeps the glyph's size";

    lamp->SetLit(true);
    QImage img = Picture(*lamp);
    EXPECT_EQ(img.pixelColor(6, 6), QColor(0, 255, 0)) << "lit shows the left half";
    EXPECT_EQ(img.pixelColor(0, 0), QColor(10, 20, 30)) << "the ground shows the parent";
    EXPECT_EQ(img.pixelColor(12, 12), QColor(10, 20, 30));
    lamp->SetLit(false);
    img = Picture(*lamp);
    EXPECT_EQ(img.pixelColor(6, 6), QColor(Qt::blue)) << "unlit shows the right half";
    EXPECT_EQ(img.pixelColor(1, 1), QColor(10, 20, 30));

    lamp->SetGlyph(TwoDotGlyph(40, 20));
    EXPECT_EQ(lamp->size(), QSize(20, 20));

    lamp->SetGlyph(QPixmap());
    EXPECT_FALSE(lamp->HasGlyph());
    EXPECT_EQ(lamp->size(), QSize(13, 13));
    lamp->resize(30, 20);
    EXPECT_EQ(lamp->size(), QSize(30, 20)) << "without a glyph any size goes";
    EXPECT_EQ(Picture(*lamp).pixelColor(15, 10), QColor(0, 128, 0));
}

TEST(StatusLightTest, TheTopLeftPixelNamesTheTransparentColour) {
    QWidget parent;
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, QColor(10, 20, 30));
    parent.setPalette(palette);
    auto* lamp = new TStatusLight(&parent);

    // Magenta is only the ground here; the top-left pixel is yellow.
    QPixmap glyph = TwoDotGlyph(26, 13);
    {
        QPainter p(&glyph);
        p.fillRect(0, 0, 1, 1, Qt::yellow);
        p.fillRect(2, 2, 1, 1, Qt::yellow);
    }
    lamp->SetGlyph(glyph);
    lamp->SetLit(true);
    const QImage img = Picture(*lamp);
    EXPECT_EQ(img.pixelColor(2, 2), QColor(10, 20, 30));
    EXPECT_EQ(img.pixelColor(1, 1), QColor(Qt::magenta)) << "not the transparent colour";
}

} // namespace
} // namespace volmar

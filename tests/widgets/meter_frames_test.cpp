// The meter's drum pictures: sizes, format, shading, and a strip for a reviewer.
#include <QDir>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

#include "resources/meter_frames.h"

using namespace volmar;

namespace {

// Mean grey of a block of rows.
double MeanGrey(const QImage& Frame, int FirstRow, int Rows) {
    double sum = 0;
    for (int y = FirstRow; y < FirstRow + Rows; ++y)
        for (int x = 0; x < Frame.width(); ++x) sum += qGray(Frame.pixel(x, y));
    return sum / (Rows * Frame.width());
}

int BrightPixels(const QImage& Frame, int Threshold) {
    int n = 0;
    for (int y = 0; y < Frame.height(); ++y)
        for (int x = 0; x < Frame.width(); ++x)
            if (qGray(Frame.pixel(x, y)) >= Threshold) ++n;
    return n;
}

int PeakGrey(const QImage& Frame) {
    int peak = 0;
    for (int y = 0; y < Frame.height(); ++y)
        for (int x = 0; x < Frame.width(); ++x) peak = std::max(peak, qGray(Frame.pixel(x, y)));
    return peak;
}

// How sharply the picture changes from row to row: smearing along the drum's
// motion flattens these steps.
double VerticalDetail(const QImage& Frame) {
    double sum = 0;
    for (int y = 0; y + 1 < Frame.height(); ++y)
        for (int x = 0; x < Frame.width(); ++x)
            sum += std::abs(qGray(Frame.pixel(x, y + 1)) - qGray(Frame.pixel(x, y)));
    return sum;
}

} // namespace

TEST(MeterFrames, EveryFrameIsSixteenByFortyFourIndexedEightBits) {
    for (int i = 0; i < kMeterFrameCount; ++i) {
        const QImage f = MeterFrame(i);
        ASSERT_FALSE(f.isNull()) << i;
        EXPECT_EQ(f.size(), QSize(16, 44)) << i;
        EXPECT_EQ(f.format(), QImage::Format_Indexed8) << i;
        EXPECT_EQ(f.depth(), 8) << i;
    }
    EXPECT_TRUE(MeterFrame(-1).isNull());
    EXPECT_TRUE(MeterFrame(13).isNull());
}

TEST(MeterFrames, DrumIsDarkerAtTopAndBottomThanInTheMiddle) {
    for (int i = 0; i < kMeterFrameCount; ++i) {
        const QImage f = MeterFrame(i);
        // Columns of plain drum beside the glyph: compare rows at the edges and
        // near the middle, away from the digit's strokes.
        const int topEdge = qGray(f.pixel(1, 0));
        const int bottomEdge = qGray(f.pixel(1, 43));
        const int middle = qGray(f.pixel(1, 22));
        EXPECT_LT(topEdge, middle) << i;
        EXPECT_LT(bottomEdge, middle) << i;
        // A dark drum: the plain surface is nowhere near white.
        EXPECT_LT(middle, 110) << i;
    }
}

TEST(MeterFrames, DigitsAreWhiteInkInTheMiddleOfTheDrum) {
    for (int d = 0; d < 10; ++d) {
        const QImage f = MeterFrame(d);
        EXPECT_GE(PeakGrey(f), 230) << d;
        // The ink sits in the middle band; the outer rows show bare drum.
        EXPECT_GT(MeanGrey(f, 14, 16), MeanGrey(f, 0, 6) + 20) << d;
        EXPECT_GT(MeanGrey(f, 14, 16), MeanGrey(f, 38, 6) + 20) << d;
        EXPECT_GT(BrightPixels(f, 180), 20) << d;
    }
}

TEST(MeterFrames, TenDigitsAreTenDifferentPictures) {
    for (int a = 0; a < 10; ++a)
        for (int b = a + 1; b < 10; ++b) EXPECT_NE(MeterFrame(a), MeterFrame(b)) << a << " " << b;
}

TEST(MeterFrames, BlurFramesSmearMoreWithEachFrame) {
    double digits = 0;
    for (int d = 0; d < 10; ++d) digits += VerticalDetail(MeterFrame(d)) / 10;
    double previous = digits;
    for (int i = kMeterFirstBlurFrame; i < kMeterFrameCount; ++i) {
        const QImage f = MeterFrame(i);
        const double detail = VerticalDetail(f);
        EXPECT_LT(detail, previous * 0.9) << i;
        previous = detail;
        // Still ink on the drum, not an empty frame.
        EXPECT_GT(MeanGrey(f, 8, 28), MeanGrey(MeterFrame(1), 0, 4) + 10) << i;
        EXPECT_GT(PeakGrey(f), 100) << i;
    }
}

TEST(MeterFrames, StripOfAllFramesForReview) {
    constexpr int kScale = 4;
    constexpr int kGap = 4;
    QImage strip((16 * kScale + kGap) * kMeterFrameCount + kGap, 44 * kScale + 2 * kGap,
                 QImage::Format_RGB32);
    strip.fill(QColor(0xC0, 0xC0, 0xC0));
    QPainter painter(&strip);
    for (int i = 0; i < kMeterFrameCount; ++i) {
        const QImage f = MeterFrame(i).scaled(16 * kScale, 44 * kScale);
        painter.drawImage(kGap + i * (16 * kScale + kGap), kGap, f);
    }
    painter.end();
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(VOLMAR_ARTEFACT_DIR)));
    const QString path = QStringLiteral(VOLMAR_ARTEFACT_DIR "/meter_frames.png");
    ASSERT_TRUE(strip.save(path));
    EXPECT_EQ(QImage(path).size(), strip.size());
}

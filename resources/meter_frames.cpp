#include "resources/meter_frames.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace volmar {

namespace {

// The drum is drawn as a strip of glyphs on its unrolled surface, then seen
// through the 16 x 44 window as a cylinder: rows near the top and bottom
// look at the surface at a steep angle, so they are squeezed and darker.
constexpr int kSuper = 8;          // glyph strip resolution per frame pixel
constexpr double kPitch = 34.0;    // surface distance between two digits
constexpr double kRadius = 24.0;   // drum radius in frame pixels
constexpr double kGlyphW = 8.6;    // glyph stroke centre box
constexpr double kGlyphH = 21.0;
constexpr double kPen = 2.7;
constexpr double kDrumGrey = 62.0; // surface brightness at the front
constexpr double kInkWhite = 250.0;

constexpr int kCellRows = static_cast<int>(kPitch) * kSuper;

// One glyph's outline, in a box of kGlyphW x kGlyphH with the origin top left.
QPainterPath GlyphPath(int Digit) {
    const double w = kGlyphW;
    const double h = kGlyphH;
    QPainterPath p;
    switch (Digit) {
    case 0: p.addRoundedRect(QRectF(0, 0, w, h), w / 2, w / 2); break;
    case 1:
        p.moveTo(w * 0.18, h * 0.2);
        p.lineTo(w * 0.62, 0);
        p.lineTo(w * 0.62, h);
        break;
    case 2:
        p.arcMoveTo(QRectF(0, 0, w, w * 1.05), 170);
        p.arcTo(QRectF(0, 0, w, w * 1.05), 170, -170);
        p.cubicTo(QPointF(w, w * 1.0), QPointF(w * 0.15, h * 0.7), QPointF(0, h));
        p.lineTo(w, h);
        break;
    case 3: {
        const QRectF top(w * 0.08, 0, w * 0.84, h * 0.48);
        const QRectF bottom(0, h * 0.48, w, h * 0.52);
        p.arcMoveTo(top, 155);
        p.arcTo(top, 155, -245);
        p.arcTo(bottom, 90, -250);
        break;
    }
    case 4:
        p.moveTo(w * 0.74, h);
        p.lineTo(w * 0.74, 0);
        p.lineTo(0, h * 0.7);
        p.lineTo(w, h * 0.7);
        break;
    case 5: {
        const QRectF bowl(0, h * 0.36, w, h * 0.64);
        p.moveTo(w * 0.95, 0);
        p.lineTo(w * 0.12, 0);
        QPainterPath arcStart;
        arcStart.arcMoveTo(bowl, 130);
        p.lineTo(arcStart.currentPosition());
        p.arcTo(bowl, 130, -275);
        break;
    }
    case 6: {
        const QRectF bowl(0, h * 0.42, w, h * 0.58);
        p.addEllipse(bowl);
        p.moveTo(w * 0.88, h * 0.02);
        p.cubicTo(QPointF(w * 0.25, h * 0.02), QPointF(0, h * 0.35), QPointF(0, bowl.center().y()));
        break;
    }
    case 7:
        p.moveTo(0, 0);
        p.lineTo(w, 0);
        p.cubicTo(QPointF(w * 0.95, h * 0.25), QPointF(w * 0.38, h * 0.55), QPointF(w * 0.38, h));
        break;
    case 8:
        p.addEllipse(QRectF(w * 0.08, 0, w * 0.84, h * 0.47));
        p.addEllipse(QRectF(0, h * 0.45, w, h * 0.55));
        break;
    case 9: {
        // A 6 turned upside down.
        QTransform turn;
        turn.translate(w, h);
        turn.rotate(180);
        p = turn.map(GlyphPath(6));
        break;
    }
    default: break;
    }
    return p;
}

// Coverage of one digit cell (a glyph centred in kPitch rows), averaged over
// each frame column: [column][row at kSuper rows per pixel], 0 to 1.
using TCell = std::array<std::array<float, kCellRows>, kMeterFrameWidth>;

TCell GlyphCell(int Digit) {
    QImage img(kMeterFrameWidth * kSuper, kCellRows, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter painter(&img);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(kSuper, kSuper);
        painter.translate((kMeterFrameWidth - kGlyphW) / 2.0, (kPitch - kGlyphH) / 2.0);
        painter.setPen(QPen(Qt::white, kPen, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(GlyphPath(Digit));
    }
    TCell cell{};
    for (int row = 0; row < kCellRows; ++row) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(row));
        for (int x = 0; x < kMeterFrameWidth; ++x) {
            int sum = 0;
            for (int k = 0; k < kSuper; ++k) sum += qAlpha(line[x * kSuper + k]);
            cell[static_cast<std::size_t>(x)][static_cast<std::size_t>(row)] =
                static_cast<float>(sum) / (255.0f * kSuper);
        }
    }
    return cell;
}

const std::vector<TCell>& Cells() {
    // 0..9 the digits, 10 the mean of all ten: the blur frames belong to no
    // digit in particular, so they smear a shape that could be any of them.
    static const std::vector<TCell> cells = [] {
        std::vector<TCell> all;
        for (int d = 0; d < 10; ++d) all.push_back(GlyphCell(d));
        // Lifted so that the strokes most digits share stay as bright as ink.
        TCell mean{};
        float peak = 0;
        for (const TCell& c : all)
            for (std::size_t x = 0; x < c.size(); ++x)
                for (std::size_t r = 0; r < c[x].size(); ++r) mean[x][r] += c[x][r] / 10.0f;
        for (const auto& column : mean)
            for (float v : column) peak = std::max(peak, v);
        for (auto& column : mean)
            for (float& v : column) v = std::sqrt(std::min(1.0f, v / peak));
        all.push_back(mean);
        return all;
    }();
    return cells;
}

// Ink coverage at surface position S (0 is the front of digit Digit, larger
// is further down the drum) in column X. Digit -1 asks for the generic glyph.
double Coverage(int Digit, int X, double S) {
    const double shifted = S + kPitch / 2.0;
    const int index = static_cast<int>(std::floor(shifted / kPitch));
    const double local = shifted - index * kPitch;
    const int row = std::clamp(static_cast<int>(local * kSuper), 0, kCellRows - 1);
    const int cellIndex = Digit < 0 ? 10 : ((Digit + index) % 10 + 10) % 10;
    return Cells()[static_cast<std::size_t>(cellIndex)][static_cast<std::size_t>(X)]
                  [static_cast<std::size_t>(row)];
}

struct TDrumView {
    int Digit;     // -1 for the generic glyph of the blur frames
    double Offset; // how far the drum has turned past the digit, in surface pixels
    double Smear;  // surface length swept during one exposure
};

QImage DrawDrum(const TDrumView& View) {
    constexpr int kSubRows = 4;
    const int smearSamples = View.Smear > 0 ? 48 : 1;
    QImage out(kMeterFrameWidth, kMeterFrameHeight, QImage::Format_Indexed8);
    QList<QRgb> greys;
    for (int i = 0; i < 256; ++i) greys.append(qRgb(i, i, i));
    out.setColorTable(greys);
    const double centre = kMeterFrameHeight / 2.0;
    for (int y = 0; y < kMeterFrameHeight; ++y) {
        uchar* line = out.scanLine(y);
        for (int x = 0; x < kMeterFrameWidth; ++x) {
            double sum = 0;
            for (int j = 0; j < kSubRows; ++j) {
                const double dy = y + (j + 0.5) / kSubRows - centre;
                const double angle = std::asin(std::clamp(dy / kRadius, -1.0, 1.0));
                const double s = kRadius * angle + View.Offset;
                double ink = 0;
                for (int b = 0; b < smearSamples; ++b) {
                    const double t = smearSamples > 1 ? (b + 0.5) / smearSamples - 0.5 : 0.0;
                    ink += Coverage(View.Digit, x, s + View.Smear * t);
                }
                ink /= smearSamples;
                // Lit from the front: the surface darkens as it turns away.
                const double c = std::cos(angle);
                const double light = 0.08 + 0.92 * c * c * c;
                sum += light * (kDrumGrey + (kInkWhite - kDrumGrey) * ink);
            }
            double v = sum / kSubRows;
            // The drum's rims: a darker edge each side parts it from its neighbours.
            if (x == 0 || x == kMeterFrameWidth - 1) v *= 0.45;
            else if (x == 1 || x == kMeterFrameWidth - 2) v *= 0.8;
            line[x] = static_cast<uchar>(std::clamp(static_cast<int>(std::lround(v)), 0, 255));
        }
    }
    return out;
}

QImage DrawFrame(int Index) {
    if (Index < kMeterFirstBlurFrame) return DrawDrum({Index, 0.0, 0.0});
    // Each blur frame shows the drum a quarter digit further on and moving faster.
    const int step = Index - kMeterFirstBlurFrame + 1;
    static constexpr double kSmear[] = {4.0, 10.0, 18.0};
    return DrawDrum({-1, kPitch * step / 4.0, kSmear[step - 1]});
}

} // namespace

QImage MeterFrame(int Index) {
    if (Index < 0 || Index >= kMeterFrameCount) return QImage();
    // Drawn once; every meter shares the pictures.
    static const std::array<QImage, kMeterFrameCount> frames = [] {
        std::array<QImage, kMeterFrameCount> all;
        for (int i = 0; i < kMeterFrameCount; ++i) all[static_cast<std::size_t>(i)] = DrawFrame(i);
        return all;
    }();
    return frames[static_cast<std::size_t>(Index)];
}

} // namespace volmar

#include "app/glyph_picture.h"

#include <QPainter>

namespace volmar {

TGlyphPicture::TGlyphPicture(QImage Strip, int FrameCount, QWidget* Parent)
    : QWidget(Parent), FStrip(std::move(Strip)), FFrameCount(std::max(FrameCount, 1)) {
    setFixedSize(FStrip.width() / FFrameCount, FStrip.height());
}

void TGlyphPicture::SetFrame(int Frame) {
    if (Frame < 0 || Frame >= FFrameCount || Frame == FFrame) return;
    FFrame = Frame;
    update();
}

QImage TGlyphPicture::FrameImage(int Frame) const {
    const int w = FStrip.width() / FFrameCount;
    return FStrip.copy(Frame * w, 0, w, FStrip.height());
}

void TGlyphPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int w = FStrip.width() / FFrameCount;
    painter.drawImage(QPoint(0, 0), FStrip, QRect(FFrame * w, 0, w, FStrip.height()));
}

} // namespace volmar

#include "app/stand_ins.h"

#include <QPainter>

#include <cstdlib>

namespace volmar {

TMeterStandIn::TMeterStandIn(const QString& Caption, int Digits, bool ShowCaption, QWidget* Parent)
    : QLabel(Parent), FCaption(Caption), FDigits(Digits), FShowCaption(ShowCaption) {
    setAlignment(Qt::AlignCenter);
    setToolTip(Caption);
    ShowText();
}

void TMeterStandIn::SetValue(std::int32_t Value) {
    if (Value == FValue) return;
    FValue = Value;
    ShowText();
}

void TMeterStandIn::ShowText() {
    // A meter shows the lowest digits of the total, as a drum counter does.
    std::int64_t modulus = 1;
    for (int i = 0; i < FDigits; ++i) modulus *= 10;
    const std::int64_t shown = ((static_cast<std::int64_t>(FValue) % modulus) + modulus) % modulus;
    const QString digits = QString::number(shown).rightJustified(FDigits, QLatin1Char('0'));
    setText(FShowCaption ? FCaption + QLatin1Char('\n') + digits : digits);
}

TLampBox::TLampBox(QColor LitColor, QColor UnlitColor, QWidget* Parent)
    : QWidget(Parent), FLitColor(LitColor), FUnlitColor(UnlitColor) {
    setFixedSize(13, 13);
}

void TLampBox::SetLit(bool Value) {
    if (Value == FLit) return;
    FLit = Value;
    update();
}

void TLampBox::SetColors(QColor LitColor, QColor UnlitColor) {
    FLitColor = LitColor;
    FUnlitColor = UnlitColor;
    update();
}

void TLampBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Dark));
    painter.setBrush(FLit ? FLitColor : FUnlitColor);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

TFramePicture::TFramePicture(QStringList FrameTexts, QList<QColor> FrameColors, QWidget* Parent)
    : QLabel(Parent), FTexts(std::move(FrameTexts)), FColors(std::move(FrameColors)) {
    setAlignment(Qt::AlignCenter);
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    SetFrame(0);
}

void TFramePicture::SetFrame(int Frame) {
    if (Frame < 0 || Frame >= FTexts.size() || Frame == FFrame) return;
    FFrame = Frame;
    setText(FTexts[Frame]);
    QPalette p = palette();
    p.setColor(QPalette::Window, FColors.value(Frame, Qt::lightGray));
    setPalette(p);
}

} // namespace volmar

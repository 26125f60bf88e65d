// A picture showing one frame of a strip of equal frames (the doors and
// the keys of the machine panel).
#pragma once

#include <QImage>
#include <QWidget>

namespace volmar {

class TGlyphPicture : public QWidget {
    Q_OBJECT
public:
    TGlyphPicture(QImage Strip, int FrameCount, QWidget* Parent = nullptr);
    int Frame() const { return FFrame; }
    void SetFrame(int Frame);
    int FrameCount() const { return FFrameCount; }
    // The frame's image as shown.
    QImage FrameImage(int Frame) const;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QImage FStrip;
    int FFrameCount;
    int FFrame = 0;
};

} // namespace volmar

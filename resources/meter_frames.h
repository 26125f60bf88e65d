// The mechanical meter's drum pictures, drawn in code: one frame per digit
// and three of the drum in motion.
#pragma once

#include <QImage>

namespace volmar {

inline constexpr int kMeterFrameWidth = 16;
inline constexpr int kMeterFrameHeight = 44;
inline constexpr int kMeterFrameCount = 13;
// Frames 10, 11 and 12 are the blur frames BLUR_1 to BLUR_3.
inline constexpr int kMeterFirstBlurFrame = 10;

// Frame 0 to 9: a white digit on a shaded dark drum (DIGIT_0 .. DIGIT_9).
// Frame 10 to 12: the drum turning on towards the next digit, each frame
// further along and more smeared than the one before.
// 16 x 44 pixels, QImage::Format_Indexed8 with a grey colour table.
// Any other index gives a null image.
QImage MeterFrame(int Index);

} // namespace volmar

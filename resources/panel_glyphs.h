// The machine panel's picture strips: each a row of equal frames.
#pragma once

#include <QImage>

namespace volmar {

enum TDoorStrip { dsCashDoor, dsBackDoor, dsSideDoor };

inline constexpr int kDoorFrameSize = 64;
inline constexpr int kKeyFrameSize = 32;

// Three 64 x 64 frames: 0 grey (not yet reported), 1 closed, 2 open with
// the inside showing.
QImage DoorStrip(TDoorStrip Door);

// Two 32 x 32 frames: 0 a grey key (off), 1 a yellow key (on).
QImage KeyStrip();

} // namespace volmar

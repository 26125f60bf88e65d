// The about box's pictures, drawn in code: the banner behind the texts and
// the close button's glyph.
#pragma once

#include <QImage>

namespace volmar {

inline constexpr int kAboutPictureWidth = 567;
inline constexpr int kAboutPictureHeight = 107;

// A dark casino banner: marquee bulbs along the edges, three reels and a
// row of meter drums on the left, stacks of coins beside them. The top right
// is kept dark for the title and version, the bottom corners for the close
// button (left) and a line of text (right).
QImage AboutPicture();

inline constexpr int kAboutGlyphWidth = 45;
inline constexpr int kAboutGlyphHeight = 18;

// The close button's face: a check mark and "OK" on a small plate, on a
// transparent ground.
QImage AboutCloseGlyph();

} // namespace volmar

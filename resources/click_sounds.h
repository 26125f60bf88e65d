// The meter's click sounds, synthesised in code as complete WAVE images.
#pragma once

#include <QByteArray>

#include <cstdint>

namespace volmar {

enum TClickSound : std::uint8_t { csMtrSlow, csMtrNorm, csMtrFast };

inline constexpr int kClickSampleRate = 22050;
inline constexpr int kClickSoundCount = 3;

// The sound's resource name: "MTRSLOW", "MTRNORM" or "MTRFAST".
const char* ClickSoundName(TClickSound Sound);

// Its length in samples: about 196 ms, 105 ms and 25 ms.
int ClickSoundSamples(TClickSound Sound);

// The whole file image: RIFF/WAVE header, "fmt " chunk (PCM, 22050 Hz, 16-bit,
// mono) and the "data" chunk. The clack of an electromechanical counter: the
// armature striking, and for the two longer sounds its smaller release tick.
// Made once; later calls share the same bytes.
QByteArray ClickSoundWave(TClickSound Sound);

} // namespace volmar

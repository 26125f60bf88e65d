// The meter clicks through Qt Multimedia: one player per sound for the whole
// process, made on first use and gone with the application object.
#pragma once

#include "resources/click_sounds.h"

namespace volmar {

// Starts the sound and returns at once; a click still playing is started
// over. Without an audio output (or before a QCoreApplication exists) the
// clicks are silent: never an error and never a wait.
void PlayClickSound(TClickSound Sound);

// Whether clicks reach an audio output; decided once, on the first click.
bool ClickSoundAudible();

} // namespace volmar

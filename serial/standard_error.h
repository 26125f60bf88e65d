// Standard error, written by every part of the program through one door: a
// reader that has gone away (EPIPE) is noticed there once, and from then on
// nothing more is written to it.
#pragma once

#include <string_view>

namespace volmar {

// Writes Line and a newline in one piece, from any thread; nothing once the
// reader has gone away.
void WriteStandardError(std::string_view Line);

// True once a write found that no one reads standard error any more.
bool StandardErrorLost();

} // namespace volmar

// The engine without a window: it answers the machine exactly as the window
// does and prints one JSON object per line on standard output for every
// event, until a quit signal or the given duration ends it in order.
#pragma once

#include "app/command_line.h"
#include "app/data_folder.h"

namespace volmar {

// Exit statuses besides 0 (an orderly end) and 2 (a mistake in the command line).
inline constexpr int kExitSaveFailed = 1;
inline constexpr int kExitCannotRun = 3;
// A conformance run had a step that did not pass.
inline constexpr int kExitRunFailed = 4;

// Runs on the QCoreApplication already made; returns the exit status.
int RunHeadless(const TCommandLine& Line, const TDataFolder& Folder);

} // namespace volmar

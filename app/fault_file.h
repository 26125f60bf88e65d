// Headless --faults FILE: the faults to arm from the start, one JSON object a
// line. FILE may be a pipe (a FIFO, or a shell's <(...)); nothing about it
// ever holds up the start for long.
#pragma once

#include <QString>

#include "lab/faults.h"
#include "lab/line_file.h"

namespace volmar {

// How long a pipe's writer has to finish, in all.
constexpr int kFaultPipeWaitMs = kLineFilePipeWaitMs;

// Arms each fault of the file, or none; false with Error naming the file
// and what is wrong with it or with which line.
bool ArmFaultFile(TFaults& Faults, const QString& Path, QString& Error);

} // namespace volmar

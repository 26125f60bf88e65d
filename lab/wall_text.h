// Wall times as the captures write them and the replay reads them back.
#pragma once

#include <cstdint>
#include <string>

namespace volmar {

// WallUs (microseconds since the epoch) in local time, to the microsecond,
// with Separator between the date and the time of day.
void AppendWall(std::string& Text, std::int64_t WallUs, char Separator);

// A wall time as the text form writes it: "2026-07-14 09:05:03.000042", local.
std::string WallText(std::int64_t WallUs);

} // namespace volmar

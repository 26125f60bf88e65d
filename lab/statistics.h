// Counters of what went right and wrong on the line, by kind, since the
// start or the last Clear, each with the time it last moved.
#pragma once

#include <array>
#include <cstdint>

#include "monitor/traffic_record.h"

namespace volmar {

enum TStatKind : std::uint8_t {
    stFrames,
    stValid,
    stAck,
    stNak,
    stEsc,
    stResends,
    stRepeats,
    stBadChecksum,
    stGap,
    stOverLong,
    stZeroLength,
    stOverrun,
    stParity,
    stFraming,
    stBreak,
    stBufferOverflow,
    stDiscardedBytes,
    stSilenceNaks,
    stFirstMessageNaks,
    stRepliesDropped,
    stDeviceLost,
    stMachineSilent,
    stFaultsInjected,
    stCaptureLost,
    stKindCount,
};

struct TStatName {
    const char* Text;  // as the Statistics page shows it
    const char* Key;   // as the control socket and the exports name it
};
extern const std::array<TStatName, stKindCount> StatNames;

class TStatistics {
public:
    struct TEntry {
        std::uint64_t Count = 0;
        // Microseconds since the epoch; 0: never moved.
        std::int64_t LastWallUs = 0;
    };

    explicit TStatistics(std::int64_t SinceWallUs = 0) : FSinceWallUs(SinceWallUs) {}

    void Count(const TTrafficRecord& Record);
    // Counts Amount of what no record tells (records the capture lost).
    void Add(TStatKind Kind, std::int64_t WallUs, std::uint64_t Amount = 1);
    void Clear(std::int64_t NowWallUs);

    const TEntry& operator[](TStatKind Kind) const { return FEntries[Kind]; }
    std::int64_t SinceWallUs() const { return FSinceWallUs; }

private:
    std::array<TEntry, stKindCount> FEntries{};
    std::int64_t FSinceWallUs;
};

} // namespace volmar

// The counters record: per-code message and retry counts and the ten meter
// totals, the whole content of the counters file (1064 bytes, signed 32-bit
// little-endian numbers, no header).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace volmar {

struct TCodeCount {
    std::int32_t Messages;
    std::int32_t Retries;
};

struct TCounters {
    TCodeCount Codes[128];
    std::int32_t In;
    std::int32_t Out;
    std::int32_t Games;
    std::int32_t Stakes;
    std::int32_t Wins;
    std::int32_t Cashbox;
    std::int32_t Refills;
    std::int32_t Dumps;
    std::int32_t CancelledCredits;
    std::int32_t CreditsTaken;
};

static_assert(std::endian::native == std::endian::little,
              "the counters file is the record's memory image, little-endian");
static_assert(sizeof(TCounters) == 1064);
static_assert(offsetof(TCounters, Codes) == 0);
static_assert(offsetof(TCodeCount, Retries) == 4);
static_assert(offsetof(TCounters, In) == 1024);
static_assert(offsetof(TCounters, Out) == 1028);
static_assert(offsetof(TCounters, Games) == 1032);
static_assert(offsetof(TCounters, Stakes) == 1036);
static_assert(offsetof(TCounters, Wins) == 1040);
static_assert(offsetof(TCounters, Cashbox) == 1044);
static_assert(offsetof(TCounters, Refills) == 1048);
static_assert(offsetof(TCounters, Dumps) == 1052);
static_assert(offsetof(TCounters, CancelledCredits) == 1056);
static_assert(offsetof(TCounters, CreditsTaken) == 1060);

// Meter indices carried by a meter refresh: 0 is all meters.
enum TMeterIndex : int {
    miAll = 0,
    miIn = 1,
    miOut,
    miGames,
    miStakes,
    miWins,
    miCashbox,
    miRefills,
    miDumps,
    miCancelledCredits,
    miCreditsTaken,
};

// The total of a meter index 1..10; nullptr for any other index.
std::int32_t* MeterTotal(TCounters& Counters, int Index);

// Adds with signed 32-bit wrap-around, never undefined.
inline void AddWrapped(std::int32_t& Total, std::int64_t Amount) {
    Total = static_cast<std::int32_t>(static_cast<std::uint32_t>(Total) +
                                      static_cast<std::uint32_t>(Amount));
}

class ECountersFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void ClearCounters(TCounters& Counters);

// Clears the record, then copies at most its size in bytes from the file
// over its start. A missing file (or a link to one) leaves it cleared; any
// other file that cannot be read, or is not a regular file, raises "Cannot
// open file %s", possibly followed by the reason. A FIFO or device is never
// waited on or read.
void LoadCounters(TCounters& Counters, const std::string& FileName);

// Replaces the file with the record's bytes through a temporary file beside
// it, so a failed save (a full disk too) leaves the old file as it was. A
// symbolic link is written through to its target. Raises "Cannot create
// file %s" or "Unable to write to %s". Keeps no state: a thread may save a
// copy of the record while the program counts on.
void SaveCounters(const TCounters& Counters, const std::string& FileName);

} // namespace volmar

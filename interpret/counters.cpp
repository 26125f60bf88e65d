#include "interpret/counters.h"

#include <cstring>
#include <string_view>

#include "dataport/file_store.h"

namespace volmar {

std::int32_t* MeterTotal(TCounters& Counters, int Index) {
    switch (Index) {
    case miIn: return &Counters.In;
    case miOut: return &Counters.Out;
    case miGames: return &Counters.Games;
    case miStakes: return &Counters.Stakes;
    case miWins: return &Counters.Wins;
    case miCashbox: return &Counters.Cashbox;
    case miRefills: return &Counters.Refills;
    case miDumps: return &Counters.Dumps;
    case miCancelledCredits: return &Counters.CancelledCredits;
    case miCreditsTaken: return &Counters.CreditsTaken;
    default: return nullptr;
    }
}

void ClearCounters(TCounters& Counters) { std::memset(&Counters, 0, sizeof Counters); }

void LoadCounters(TCounters& Counters, const std::string& FileName) {
    ClearCounters(Counters);
    // Never more than the record: a longer file is cut, and nothing but a regular file is read.
    const auto bytes =
        RaisingAs<ECountersFileError>([&] { return ReadRegularFile(FileName, sizeof Counters); });
    if (bytes) std::memcpy(&Counters, bytes->data(), bytes->size());
}

void SaveCounters(const TCounters& Counters, const std::string& FileName) {
    const std::string_view bytes(reinterpret_cast<const char*>(&Counters), sizeof Counters);
    RaisingAs<ECountersFileError>([&] { ReplaceFile(FileName, bytes); });
}

} // namespace volmar

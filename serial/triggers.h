// The port's triggers: handles, arming, and which trigger fires next. Pure
// bookkeeping; the port holds its trigger lock around every call.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace volmar {

enum TStatusKind : std::uint8_t {
    stNone = 0,
    stModem = 1,
    stLine = 2,
    stOutBuffFree = 3,
    stOutBuffUsed = 4,
    stOutSent = 5,
};

// What the status conditions are judged on.
struct TLineStatus {
    std::uint8_t ModemStatus = 0;  // levels in the high nibble, change bits low
    std::uint8_t ErrorFlags = 0;   // kErr... flags accumulated so far
    std::uint32_t OutUsed = 0;     // bytes in the output ring
    std::uint32_t OutFree = 0;     // room in the output ring
    bool OutSent = false;          // bytes were queued since the condition last held
};

class TTriggerSet {
public:
    struct TimerTrigger {
        std::uint16_t Handle = 0;
        std::uint32_t Start = 0;
        std::uint32_t Ticks = 0;
        bool Active = false;
    };
    struct StatusTrigger {
        std::uint16_t Handle = 0;
        TStatusKind Kind = stNone;
        std::uint16_t Detail = 0;
        bool Active = false;
    };

    std::uint16_t AddTimer();
    // Raises EBadArgument for a kind above 5.
    std::uint16_t AddStatus(std::uint8_t Kind);
    // Raise EBadTriggerHandle for a handle that names no fitting trigger.
    void SetTimer(std::uint16_t Handle, std::uint32_t Ticks, bool Activate, std::uint32_t NowTick);
    // A line trigger's Value watches overruns (1), parity errors (2),
    // framing errors (4), breaks (8) and input queue overflows (16).
    void SetStatus(std::uint16_t Handle, std::uint16_t Value, bool Activate,
                   std::uint8_t ModemStatus);
    void Remove(std::uint16_t Handle);
    void RemoveAll();
    bool Empty() const { return FTimers.empty() && FStatus.empty(); }

    // The first active status trigger whose condition holds, skipping the
    // handles in Skip; it is made inactive (once per arming).
    std::optional<StatusTrigger> NextStatus(const TLineStatus& Line,
                                            const std::vector<std::uint16_t>& Skip);
    // The first active timer that has expired at Now; made inactive.
    std::optional<std::uint16_t> NextExpiredTimer(std::uint32_t NowTick);

    const std::vector<TimerTrigger>& Timers() const { return FTimers; }
    const std::vector<StatusTrigger>& Status() const { return FStatus; }

private:
    std::uint16_t Allocate(std::uint8_t Kind);
    bool InUse(std::uint16_t Base) const;

    std::vector<TimerTrigger> FTimers;
    std::vector<StatusTrigger> FStatus;
    std::uint32_t FCounter = 1;
};

} // namespace volmar

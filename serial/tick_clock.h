// The port's clock: a wrapping 32-bit millisecond count, 55 ms a tick. Tests
// give the port a manual clock so timer triggers run without sleeping.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace volmar {

inline constexpr std::uint32_t kMsPerTick = 55;
// Ticks run from 0 to this value minus 1, then wrap with the milliseconds.
inline constexpr std::uint32_t kTickRange = 0xFFFFFFFFu / kMsPerTick + 1;
// The longest timer, half the tick range.
inline constexpr std::uint32_t kMaxTimerTicks = 39045157;

class ITickClock {
public:
    virtual ~ITickClock() = default;
    virtual std::uint32_t Milliseconds() = 0;
    std::uint32_t Ticks() { return Milliseconds() / kMsPerTick; }
    // Called whenever time jumps (manual clocks); the port wakes its
    // dispatcher so timers are evaluated at once.
    virtual void AddWakeListener(const void* Owner, std::function<void()> Wake) {
        (void)Owner, (void)Wake;
    }
    virtual void RemoveWakeListener(const void* Owner) { (void)Owner; }
};

// CLOCK_MONOTONIC in milliseconds.
class TSystemTickClock : public ITickClock {
public:
    std::uint32_t Milliseconds() override;
    static TSystemTickClock& Instance();
};

class TManualTickClock : public ITickClock {
public:
    explicit TManualTickClock(std::uint32_t StartMs = 0) : FMs(StartMs) {}
    std::uint32_t Milliseconds() override;
    void SetMilliseconds(std::uint32_t Ms);
    void Advance(std::uint32_t Ms);
    void AdvanceTicks(std::uint32_t Ticks) { Advance(Ticks * kMsPerTick); }
    void AddWakeListener(const void* Owner, std::function<void()> Wake) override;
    void RemoveWakeListener(const void* Owner) override;

private:
    std::mutex FLock;
    std::uint32_t FMs;
    std::vector<std::pair<const void*, std::function<void()>>> FListeners;
};

// The nearest whole number of ticks for a time, halves to even:
// 1000 ms is 18 ticks.
std::uint32_t MsToTicks(std::uint32_t Ms);

// Ticks from Start to Now across the clock's wrap.
inline std::uint32_t TicksBetween(std::uint32_t Start, std::uint32_t Now) {
    return Now >= Start ? Now - Start : Now + kTickRange - Start;
}

} // namespace volmar

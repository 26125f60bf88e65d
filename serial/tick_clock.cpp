#include "serial/tick_clock.h"

#include <time.h>

#include <algorithm>

namespace volmar {

std::uint32_t TSystemTickClock::Milliseconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

TSystemTickClock& TSystemTickClock::Instance() {
    static TSystemTickClock clock;
    return clock;
}

std::uint32_t TManualTickClock::Milliseconds() {
    std::lock_guard lock(FLock);
    return FMs;
}

void TManualTickClock::SetMilliseconds(std::uint32_t Ms) {
    std::vector<std::function<void()>> wake;
    {
        std::lock_guard lock(FLock);
        FMs = Ms;
        for (auto& l : FListeners) wake.push_back(l.second);
    }
    for (auto& w : wake) w();
}

void TManualTickClock::Advance(std::uint32_t Ms) { SetMilliseconds(Milliseconds() + Ms); }

void TManualTickClock::AddWakeListener(const void* Owner, std::function<void()> Wake) {
    std::lock_guard lock(FLock);
    FListeners.emplace_back(Owner, std::move(Wake));
}

void TManualTickClock::RemoveWakeListener(const void* Owner) {
    std::lock_guard lock(FLock);
    std::erase_if(FListeners, [Owner](const auto& l) { return l.first == Owner; });
}

std::uint32_t MsToTicks(std::uint32_t Ms) {
    // ms * 18.2 / 1000 = ms * 91 / 5000, rounded to nearest, halves to even.
    const std::uint64_t scaled = static_cast<std::uint64_t>(Ms) * 91;
    std::uint64_t ticks = scaled / 5000;
    const std::uint64_t rest = scaled % 5000;
    if (rest > 2500 || (rest == 2500 && (ticks & 1))) ++ticks;
    return static_cast<std::uint32_t>(ticks);
}

} // namespace volmar

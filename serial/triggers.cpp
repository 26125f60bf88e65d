#include "serial/triggers.h"

#include <algorithm>

#include "serial/device_layer.h"
#include "serial/port_errors.h"
#include "serial/tick_clock.h"

namespace volmar {

namespace {
constexpr std::uint32_t kLastCountedHandle = 4095;
}

bool TTriggerSet::InUse(std::uint16_t Base) const {
    return std::any_of(FTimers.begin(), FTimers.end(),
                       [Base](const auto& t) { return (t.Handle & ~7u) == Base; }) ||
           std::any_of(FStatus.begin(), FStatus.end(),
                       [Base](const auto& s) { return (s.Handle & ~7u) == Base; });
}

std::uint16_t TTriggerSet::Allocate(std::uint8_t Kind) {
    std::uint32_t base = 0;
    if (FCounter <= kLastCountedHandle) {
        base = FCounter * 8;
        ++FCounter;
    } else {
        // The counter is exhausted: the lowest multiple of 8 not in use.
        base = 8;
        while (InUse(static_cast<std::uint16_t>(base))) base += 8;
    }
    return static_cast<std::uint16_t>(base + Kind);
}

std::uint16_t TTriggerSet::AddTimer() {
    TimerTrigger t;
    t.Handle = Allocate(0);
    FTimers.push_back(t);
    return t.Handle;
}

std::uint16_t TTriggerSet::AddStatus(std::uint8_t Kind) {
    if (Kind > stOutSent) throw EBadArgument();
    StatusTrigger s;
    s.Kind = static_cast<TStatusKind>(Kind);
    s.Handle = Allocate(Kind);
    FStatus.push_back(s);
    return s.Handle;
}

void TTriggerSet::SetTimer(std::uint16_t Handle, std::uint32_t Ticks, bool Activate,
                           std::uint32_t NowTick) {
    const auto it = std::find_if(FTimers.begin(), FTimers.end(),
                                 [Handle](const auto& t) { return t.Handle == Handle; });
    if (it == FTimers.end()) throw EBadTriggerHandle();
    if (!Activate) {
        it->Active = false;
        return;
    }
    if (Ticks != 0) it->Ticks = std::min(Ticks, kMaxTimerTicks);
    it->Start = NowTick;
    it->Active = true;
}

void TTriggerSet::SetStatus(std::uint16_t Handle, std::uint16_t Value, bool Activate,
                            std::uint8_t ModemStatus) {
    const auto it = std::find_if(FStatus.begin(), FStatus.end(),
                                 [Handle](const auto& s) { return s.Handle == Handle; });
    if (it == FStatus.end()) throw EBadTriggerHandle();
    if (Activate) {
        switch (it->Kind) {
        case stModem: {
            const std::uint8_t mask = static_cast<std::uint8_t>(Value);
            it->Detail = static_cast<std::uint16_t>((mask << 8) | (ModemStatus & mask));
            break;
        }
        case stLine: {
            std::uint16_t flags = 0;
            if (Value & 1) flags |= kErrOverrun;
            if (Value & 2) flags |= kErrParity;
            if (Value & 4) flags |= kErrFraming;
            if (Value & 8) flags |= kErrBreak;
            if (Value & 16) flags |= kErrOverflow;
            it->Detail = flags;
            break;
        }
        case stOutBuffFree:
        case stOutBuffUsed: it->Detail = Value; break;
        default: break;
        }
    }
    it->Active = Activate;
}

void TTriggerSet::Remove(std::uint16_t Handle) {
    const auto t = std::find_if(FTimers.begin(), FTimers.end(),
                                [Handle](const auto& x) { return x.Handle == Handle; });
    if (t != FTimers.end()) {
        FTimers.erase(t);
        return;
    }
    const auto s = std::find_if(FStatus.begin(), FStatus.end(),
                                [Handle](const auto& x) { return x.Handle == Handle; });
    if (s == FStatus.end()) throw EBadTriggerHandle();
    FStatus.erase(s);
}

void TTriggerSet::RemoveAll() {
    FTimers.clear();
    FStatus.clear();
    FCounter = 1;
}

std::optional<TTriggerSet::StatusTrigger>
TTriggerSet::NextStatus(const TLineStatus& Line, const std::vector<std::uint16_t>& Skip) {
    for (auto& s : FStatus) {
        if (!s.Active || std::find(Skip.begin(), Skip.end(), s.Handle) != Skip.end()) continue;
        bool fires = false;
        switch (s.Kind) {
        case stModem: {
            const std::uint8_t mask = static_cast<std::uint8_t>(s.Detail >> 8);
            fires = (Line.ModemStatus & mask) != (s.Detail & 0xFF);
            break;
        }
        case stLine: fires = (Line.ErrorFlags & s.Detail) != 0; break;
        case stOutBuffFree: fires = Line.OutFree >= s.Detail; break;
        case stOutBuffUsed: fires = Line.OutUsed <= s.Detail; break;
        case stOutSent: fires = Line.OutSent; break;
        default: break;
        }
        if (fires) {
            s.Active = false;
            return s;
        }
    }
    return std::nullopt;
}

std::optional<std::uint16_t> TTriggerSet::NextExpiredTimer(std::uint32_t NowTick) {
    for (auto& t : FTimers) {
        // Elapsed ticks are counted across the clock's wrap, so a timer
        // armed just before it still fires.
        if (t.Active && TicksBetween(t.Start, NowTick) > t.Ticks) {
            t.Active = false;
            return t.Handle;
        }
    }
    return std::nullopt;
}

} // namespace volmar

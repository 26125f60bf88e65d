// A port for receiver tests: records what the receiver sends and flushes,
// and runs its timer triggers on a tick clock that the test advances.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "dataport/dataport_port.h"

namespace volmar::testing {

class FakeDataportPort : public IDataportPort {
public:
    struct Timer {
        bool Active = false;
        std::uint32_t Ticks = 0;
        std::uint64_t Expiry = 0;
    };

    bool IsOpen = true;
    // PutChar throws as the real port does when its output ring is full.
    bool PutFails = false;
    std::vector<std::uint8_t> Sent;
    // Sends, flushes and trigger calls in order, e.g. "put 15", "flush in".
    std::vector<std::string> Calls;
    std::map<std::uint16_t, Timer> Timers;
    std::uint64_t Now = 0;
    int CommunicationCalls = 0;
    TDataportTimerEvent Notification;

    bool Open() const override { return IsOpen; }
    void PutChar(std::uint8_t Byte) override {
        if (PutFails) throw std::runtime_error("Output buffer too small for block");
        Sent.push_back(Byte);
        Calls.push_back("put " + Hex(Byte));
    }
    void FlushInBuffer() override { Calls.push_back("flush in"); }
    void FlushOutBuffer() override { Calls.push_back("flush out"); }
    void SetTimerTrigger(std::uint16_t Handle, std::uint32_t Ticks, bool Activate) override {
        Timer& t = Timers[Handle];
        if (Activate) {
            if (Ticks != 0) t.Ticks = Ticks;
            t.Expiry = Now + t.Ticks;
            t.Active = true;
        } else {
            t.Active = false;
        }
    }
    void ProcessCommunications() override { ++CommunicationCalls; }
    void BindTimerNotification(TDataportTimerEvent Handler) override {
        Notification = std::move(Handler);
    }

    // Moves the clock on one tick at a time; a trigger fires once its
    // expiry tick has passed, as the real port's timers do.
    void AdvanceTicks(std::uint64_t Count) {
        for (std::uint64_t i = 0; i < Count; ++i) {
            ++Now;
            for (auto& [handle, t] : Timers) {
                if (t.Active && Now > t.Expiry) {
                    t.Active = false;
                    if (Notification) Notification(this, handle);
                }
            }
        }
    }

    bool Armed(std::uint16_t Handle) const {
        const auto it = Timers.find(Handle);
        return it != Timers.end() && it->second.Active;
    }

    static std::string Hex(std::uint8_t b) {
        static constexpr char digits[] = "0123456789ABCDEF";
        return {digits[b >> 4], digits[b & 15]};
    }
};

} // namespace volmar::testing

// An in-process serial line. A port opens it by the device path
// "virtual:NAME"; the far end (a test or a tool) writes bytes to the port,
// reads what the port sent, moves the modem lines and injects line errors
// and breaks, which a pseudo-terminal cannot do.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/device_layer.h"

namespace volmar {

class TVirtualLine {
public:
    // Registers the line under its name until the returned object is gone.
    static std::shared_ptr<TVirtualLine> Create(const std::string& Name);
    static std::shared_ptr<TVirtualLine> Find(const std::string& Name);
    ~TVirtualLine();

    const std::string& Name() const;
    std::string DevicePath() const { return "virtual:" + Name(); }

    // The far end.
    void Send(const std::vector<std::uint8_t>& Bytes);
    // A byte received with a parity or framing error, or a break, or an
    // overrun: the port sees the flag, and the byte (if any) is dropped.
    void InjectError(std::uint8_t ErrFlags);
    void SetModemLines(std::uint8_t Levels);  // kModem... bits
    std::uint8_t ModemLines() const;
    // Everything the port has written so far, taken out of the line.
    std::vector<std::uint8_t> TakeSent();
    // Waits until the port has written at least Count bytes not yet taken.
    bool WaitSent(std::size_t Count, std::chrono::milliseconds Timeout);
    // The device disappears, as a pulled USB adapter does.
    void Vanish();
    // A far end that stops reading leaves the port's bytes in the device's
    // output queue, as a UART driver does: it takes at most
    // kDeviceOutputQueue of them, then writes take nothing until the far end
    // reads again. Resuming makes the queued bytes readable (TakeSent).
    // While it reads, every byte written is readable at once.
    static constexpr std::size_t kDeviceOutputQueue = 4096;
    void SetFarEndReading(bool Reading);
    bool FarEndReading() const;
    // Holds the port's writes inside the device until released, so that
    // the far end can act while one is under way.
    void HoldWrites(bool Hold);
    bool WaitWriteHeld(std::chrono::milliseconds Timeout);
    // Waits until the port has purged the device's output Count times.
    bool WaitOutputPurges(int Count, std::chrono::milliseconds Timeout);

    // What the port did to the line.
    bool IsOpen() const;
    TLineSettings Settings() const;
    int SettingsWrites() const;  // times the port wrote line settings
    bool DTR() const;
    bool RTS() const;
    int InputPurges() const;
    int OutputPurges() const;

    struct State;
    std::shared_ptr<State> Shared() const { return FState; }

private:
    explicit TVirtualLine(std::shared_ptr<State> S);
    std::shared_ptr<State> FState;
};

std::unique_ptr<IDeviceLayer> CreateVirtualDeviceLayer();

} // namespace volmar

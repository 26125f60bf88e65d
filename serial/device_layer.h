// The device behind a port: a POSIX serial device or an in-process virtual
// line. The port calls it either from its background threads, or, when the
// device has a PollHandle and the port's owner an event loop, from the
// owner's thread only; Open, Close and the settings always come from the
// user-interface thread while no thread reads or writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace volmar {

enum TParity : std::uint8_t { pNone, pOdd, pEven, pMark, pSpace };

// StopBits: 1, 2, or 3 for one and a half (always so with 5 data bits).
struct TLineSettings {
    std::int32_t Baud = 9600;
    TParity Parity = pNone;
    std::uint16_t DataBits = 8;
    std::uint16_t StopBits = 1;
    bool operator==(const TLineSettings&) const = default;
};

// Modem line levels, as in the high nibble of the port's modem status byte.
inline constexpr std::uint8_t kModemCTS = 0x10;
inline constexpr std::uint8_t kModemDSR = 0x20;
inline constexpr std::uint8_t kModemRI = 0x40;
inline constexpr std::uint8_t kModemDCD = 0x80;

// Line error flags as the port accumulates them.
inline constexpr std::uint8_t kErrOverflow = 0x01;
inline constexpr std::uint8_t kErrOverrun = 0x02;
inline constexpr std::uint8_t kErrParity = 0x04;
inline constexpr std::uint8_t kErrFraming = 0x08;
inline constexpr std::uint8_t kErrBreak = 0x10;

// What WaitEvent saw; several may come together.
inline constexpr unsigned kEventInput = 1;     // bytes (or line errors) to read
inline constexpr unsigned kEventModem = 2;     // a modem line may have changed
inline constexpr unsigned kEventVanished = 4;  // the device is gone
inline constexpr unsigned kEventWoken = 8;     // Wake was called

class IDeviceLayer {
public:
    virtual ~IDeviceLayer() = default;

    // Opens the device for exclusive use. Raises EBadId for a device that
    // does not exist, EAlreadyOpen for one held elsewhere, EInOutError for
    // any other refusal; each carries the system's error number where there
    // is one (SystemError()).
    virtual void Open(const std::string& Path) = 0;
    virtual void Close() = 0;

    virtual void SetQueueSizes(std::uint16_t InSize, std::uint16_t OutSize) = 0;
    virtual TLineSettings LineSettings() = 0;
    virtual void SetLineSettings(const TLineSettings& Settings) = 0;
    virtual void SetDTR(bool Level) = 0;
    virtual void SetRTS(bool Level) = 0;
    // kModem... levels; 0 for every line the device does not have.
    virtual std::uint8_t ModemLevels() = 0;

    // Takes at most Max data bytes without waiting. Line errors and breaks
    // found in the stream are or-ed into Errors as kErr... flags; their
    // marks never reach the data.
    virtual std::size_t Read(std::uint8_t* Buffer, std::size_t Max, std::uint8_t& Errors) = 0;
    // Hands bytes to the device without waiting; returns how many it took.
    // Raises EPutBlockFail when the device refuses the write outright.
    virtual std::size_t Write(const std::uint8_t* Bytes, std::size_t Count) = 0;
    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;

    // Blocks until there is input, a line event, the device vanishes, Wake
    // is called or TimeoutMs passes (0 when nothing happened). Once the
    // device has vanished it only waits for Wake and the timeout.
    virtual unsigned WaitEvent(int TimeoutMs) = 0;
    // Blocks until the device can take more output, Wake, or the timeout.
    virtual bool WaitWritable(int TimeoutMs) = 0;
    // Ends every wait in progress, from any thread.
    virtual void Wake() = 0;
    virtual bool Vanished() const = 0;
    // A descriptor that polls readable when WaitEvent would report input or
    // a loss and writable when the device takes output, so that an event
    // loop can watch the device itself; -1 when there is none.
    virtual int PollHandle() const { return -1; }
};

// The device layer for a path: "virtual:NAME" is the virtual line of that
// name, anything else a POSIX serial device.
std::unique_ptr<IDeviceLayer> CreateDeviceLayerFor(const std::string& Path);

} // namespace volmar

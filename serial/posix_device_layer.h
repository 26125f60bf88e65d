// The device layer over a POSIX serial device (a tty under /dev).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include <termios.h>

#include "serial/device_layer.h"

namespace volmar {

// The line discipline marks line errors in the input when PARMRK is set:
// FF FF is a data byte FF, FF 00 00 a break (or a NUL received with an
// error), FF 00 xx a byte xx received with a parity or framing error. The
// decoder strips the marks and keeps its state between calls, since a read
// may end in the middle of a mark.
class TMarkDecoder {
public:
    struct TMarks {
        unsigned NulMarks = 0;    // FF 00 00
        unsigned ByteMarks = 0;   // FF 00 xx, xx not 0
    };

    // Writes the data bytes of In to Out (which may be In itself) and
    // returns their count, never more than Count.
    std::size_t Decode(const std::uint8_t* In, std::size_t Count, std::uint8_t* Out,
                       TMarks& Marks);
    void Reset() { FState = sData; }
    bool InsideMark() const { return FState != sData; }

private:
    enum TState : std::uint8_t { sData, sAfterFF, sAfterFF00 };
    TState FState = sData;
};

// Line settings in termios form: size, parity and stop bits of T are
// replaced, and the speed for a rate with a B-constant (any other rate is
// set through termios2, see termios2_rate.h); everything else is left.
// False (T untouched) for a rate below 1 or a frame the hardware cannot send.
bool SettingsToTermios(const TLineSettings& Settings, termios& T);
// Reads them back; a speed without a B-constant is Baud 0.
TLineSettings SettingsFromTermios(const termios& T);

// The error counters a serial driver keeps (TIOCGICOUNT).
struct TLineCounts {
    unsigned Frame = 0, Parity = 0, Overrun = 0, Brk = 0, BufOverrun = 0;
};

// Turns the marks found in a read into kErr... flags. Where the driver keeps
// counters they tell parity from framing errors, and a break from a NUL
// received with an error (both read FF 00 00), and add overruns; the driver
// counts an error when the byte comes in, before its mark can be read, so a
// count no mark has matched yet is kept for the marks to come. Without the
// counters a marked byte is a framing error when parity is off and a parity
// error otherwise, and FF 00 00 is a break.
class TErrorTally {
public:
    // Counts is null when the driver keeps none.
    void Start(const TLineCounts* Counts);
    std::uint8_t Take(const TMarkDecoder::TMarks& Marks, const TLineCounts* Now, bool ParityOn);

private:
    std::uint8_t MarkedByte(bool ParityOn);

    bool FCounting = false;
    TLineCounts FLast;
    unsigned FParity = 0, FFrame = 0, FBreaks = 0;
};

class TPosixDeviceLayer : public IDeviceLayer {
public:
    TPosixDeviceLayer();
    ~TPosixDeviceLayer() override;
    TPosixDeviceLayer(const TPosixDeviceLayer&) = delete;
    TPosixDeviceLayer& operator=(const TPosixDeviceLayer&) = delete;

    void Open(const std::string& Path) override;
    // Takes over a descriptor the caller opened itself, such as the master
    // of a pseudo-terminal it made (opening /dev/ptmx by name would take one
    // lock for every master there is), and sets it up as Open does, without
    // the lock. The layer owns it from then on, also when this raises.
    void Adopt(int Fd);
    void Close() override;

    void SetQueueSizes(std::uint16_t InSize, std::uint16_t OutSize) override;
    TLineSettings LineSettings() override;
    void SetLineSettings(const TLineSettings& Settings) override;
    void SetDTR(bool Level) override;
    void SetRTS(bool Level) override;
    std::uint8_t ModemLevels() override;

    std::size_t Read(std::uint8_t* Buffer, std::size_t Max, std::uint8_t& Errors) override;
    std::size_t Write(const std::uint8_t* Bytes, std::size_t Count) override;
    void PurgeInput() override;
    void PurgeOutput() override;

    unsigned WaitEvent(int TimeoutMs) override;
    bool WaitWritable(int TimeoutMs) override;
    void Wake() override;
    bool Vanished() const override { return FVanished.load(); }
    int PollHandle() const override { return FFd; }

    // The device's file descriptor, -1 while closed.
    int Handle() const { return FFd; }

private:
    // Raw line settings and the driver's counters on a fresh descriptor.
    void Configure(int Fd);
    void RequireOpen() const;
    void SetModemBit(int Bit, bool Level);
    // The driver's counters, or null where it keeps none.
    const TLineCounts* ReadCounts();
    void DrainWake();

    int FFd = -1;
    int FWakeFd = -1;
    std::atomic<bool> FVanished{false};
    bool FVanishReported = false;
    // Set from the settings calls, read by the reading thread.
    std::atomic<bool> FNoModemLines{false};
    std::atomic<bool> FParityOn{false};
    TMarkDecoder FDecoder;

    bool FHaveCounts = false;
    TLineCounts FCounts;
    TErrorTally FTally;
};

} // namespace volmar

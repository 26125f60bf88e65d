#include "serial/posix_device_layer.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <string>

#include "serial/port_errors.h"
#include "serial/termios2_rate.h"

namespace volmar {

std::size_t TMarkDecoder::Decode(const std::uint8_t* In, std::size_t Count, std::uint8_t* Out,
                                 TMarks& Marks) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < Count; ++i) {
        const std::uint8_t b = In[i];
        switch (FState) {
        case sData:
            if (b == 0xFF)
                FState = sAfterFF;
            else
                Out[n++] = b;
            break;
        case sAfterFF:
            // Anything but FF or 00 after FF is not a mark the kernel makes;
            // the stray FF is dropped so the output never outgrows the input.
            FState = b == 0x00 ? sAfterFF00 : sData;
            if (b != 0x00) Out[n++] = b;
            break;
        case sAfterFF00:
            FState = sData;
            if (b == 0x00)
                ++Marks.NulMarks;
            else
                ++Marks.ByteMarks;
            break;
        }
    }
    return n;
}

void TErrorTally::Start(const TLineCounts* Counts) {
    FCounting = Counts != nullptr;
    FLast = Counts ? *Counts : TLineCounts{};
    FParity = FFrame = FBreaks = 0;
}

std::uint8_t TErrorTally::MarkedByte(bool ParityOn) {
    if (FParity > 0) {
        --FParity;
        return kErrParity;
    }
    if (FFrame > 0) {
        --FFrame;
        return kErrFraming;
    }
    return ParityOn ? kErrParity : kErrFraming;
}

std::uint8_t TErrorTally::Take(const TMarkDecoder::TMarks& Marks, const TLineCounts* Now,
                               bool ParityOn) {
    std::uint8_t errors = 0;
    if (FCounting && Now) {
        FParity += Now->Parity - FLast.Parity;
        FFrame += Now->Frame - FLast.Frame;
        FBreaks += Now->Brk - FLast.Brk;
        if (Now->Overrun != FLast.Overrun) errors |= kErrOverrun;
        if (Now->BufOverrun != FLast.BufOverrun) errors |= kErrOverflow;
        FLast = *Now;
    }
    for (unsigned i = 0; i < Marks.NulMarks; ++i) {
        if (FCounting && FBreaks == 0 && (FParity > 0 || FFrame > 0)) {
            errors |= MarkedByte(ParityOn);
        } else {
            if (FBreaks > 0) --FBreaks;
            errors |= kErrBreak;
        }
    }
    for (unsigned i = 0; i < Marks.ByteMarks; ++i) errors |= MarkedByte(ParityOn);
    return errors;
}

namespace {

struct TBaudEntry {
    std::int32_t Baud;
    speed_t Speed;
};

constexpr TBaudEntry kBauds[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
    {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800},
    {9600, B9600}, {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
    {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},
#endif
#ifdef B576000
    {576000, B576000},
#endif
#ifdef B921600
    {921600, B921600},
#endif
#ifdef B1000000
    {1000000, B1000000},
#endif
#ifdef B1152000
    {1152000, B1152000},
#endif
#ifdef B1500000
    {1500000, B1500000},
#endif
#ifdef B2000000
    {2000000, B2000000},
#endif
#ifdef B2500000
    {2500000, B2500000},
#endif
#ifdef B3000000
    {3000000, B3000000},
#endif
#ifdef B3500000
    {3500000, B3500000},
#endif
#ifdef B4000000
    {4000000, B4000000},
#endif
};

bool DeviceGone(int Error) { return Error == EIO || Error == ENXIO || Error == ENODEV; }
bool NoModemIoctl(int Error) { return Error == ENOTTY || Error == EINVAL; }

// Raw bytes both ways, no flow control, reads that never wait, and line
// errors and breaks marked in the input instead of dropped or turned into
// signals.
void MakeRaw(termios& T) {
    cfmakeraw(&T);
    T.c_cflag |= CLOCAL | CREAD;
    T.c_cflag &= ~CRTSCTS;
    T.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | ISTRIP | IGNBRK | BRKINT);
    T.c_iflag |= INPCK | PARMRK;
    T.c_cc[VMIN] = 0;
    T.c_cc[VTIME] = 0;
}

// The number goes with the port's error so that the port can tell the
// operator what it means for the device.
template <class TError>
[[noreturn]] void RaiseFor(int Error) {
    TError e;
    e.SetSystemError(Error);
    throw e;
}

[[noreturn]] void CloseAndRaise(int Fd, int Error) {
    ::ioctl(Fd, TIOCNXCL);
    ::close(Fd);
    RaiseSystemError(Error);
}

// The operator has to know which rate the device would not take.
[[noreturn]] void RaiseRateRefused(int Error, std::int32_t Baud) {
    if (Error == ENOMEM) throw EOutOfMemory();
    throw EInOutError(Error, std::string(EInOutError(Error).what()) + " (" +
                                 std::to_string(Baud) + " baud)");
}

const TBaudEntry* SpeedConstant(std::int32_t Baud) {
    for (const TBaudEntry& entry : kBauds)
        if (entry.Baud == Baud) return &entry;
    return nullptr;
}

} // namespace

bool SettingsToTermios(const TLineSettings& Settings, termios& T) {
    if (Settings.Baud <= 0 || Settings.DataBits < 5 || Settings.DataBits > 8 ||
        Settings.StopBits < 1 || Settings.StopBits > 3 || Settings.Parity > pSpace)
        return false;
    termios t = T;
    // No input rate of its own: the input follows the output.
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CIBAUD);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[Settings.DataBits - 5];
    switch (Settings.Parity) {
    case pNone: break;
    case pOdd: t.c_cflag |= PARENB | PARODD; break;
    case pEven: t.c_cflag |= PARENB; break;
    case pMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case pSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (Settings.StopBits >= 2) t.c_cflag |= CSTOPB;
    if (const TBaudEntry* baud = SpeedConstant(Settings.Baud))
        if (::cfsetispeed(&t, baud->Speed) != 0 || ::cfsetospeed(&t, baud->Speed) != 0)
            return false;
    T = t;
    return true;
}

TLineSettings SettingsFromTermios(const termios& T) {
    TLineSettings s;
    s.Baud = 0;
    const speed_t speed = ::cfgetospeed(&T);
    for (const TBaudEntry& entry : kBauds)
        if (entry.Speed == speed) s.Baud = entry.Baud;
    switch (T.c_cflag & CSIZE) {
    case CS5: s.DataBits = 5; break;
    case CS6: s.DataBits = 6; break;
    case CS7: s.DataBits = 7; break;
    default: s.DataBits = 8; break;
    }
    if (!(T.c_cflag & PARENB))
        s.Parity = pNone;
    else if (T.c_cflag & CMSPAR)
        s.Parity = (T.c_cflag & PARODD) ? pMark : pSpace;
    else
        s.Parity = (T.c_cflag & PARODD) ? pOdd : pEven;
    // With five data bits the second stop bit is one and a half.
    if (T.c_cflag & CSTOPB)
        s.StopBits = s.DataBits == 5 ? 3 : 2;
    else
        s.StopBits = 1;
    return s;
}

TPosixDeviceLayer::TPosixDeviceLayer() {
    FWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FWakeFd < 0) RaiseSystemError(errno);
}

TPosixDeviceLayer::~TPosixDeviceLayer() {
    Close();
    ::close(FWakeFd);
}

void TPosixDeviceLayer::Open(const std::string& Path) {
    Close();
    const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        if (e == ENOENT || e == ENODEV || e == ENXIO) RaiseFor<EBadId>(e);
        if (e == EBUSY) RaiseFor<EAlreadyOpen>(e);
        RaiseSystemError(e);
    }
    // The lock keeps out other programs that lock their ports; TIOCEXCL
    // also keeps out those that do not, where the driver supports it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        if (e == EWOULDBLOCK) RaiseFor<EAlreadyOpen>(e);
        RaiseSystemError(e);
    }
    ::ioctl(fd, TIOCEXCL);
    Configure(fd);
}

void TPosixDeviceLayer::Adopt(int Fd) {
    Close();
    if (Fd < 0) throw EBadId();
    // The reading thread relies on reads that never wait, as Open gives.
    const int flags = ::fcntl(Fd, F_GETFL);
    if (flags < 0 || ::fcntl(Fd, F_SETFL, flags | O_NONBLOCK) != 0) CloseAndRaise(Fd, errno);
    Configure(Fd);
}

void TPosixDeviceLayer::Configure(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) CloseAndRaise(fd, errno);
    MakeRaw(t);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) CloseAndRaise(fd, errno);

    FFd = fd;
    FParityOn = (t.c_cflag & PARENB) != 0;
    FHaveCounts = true;  // asked once here; a driver without them is not asked again
    const TLineCounts* counts = ReadCounts();
    FHaveCounts = counts != nullptr;
    FTally.Start(counts);
    DrainWake();
}

void TPosixDeviceLayer::Close() {
    if (FFd >= 0) {
        ::ioctl(FFd, TIOCNXCL);
        ::close(FFd);
        FFd = -1;
    }
    FVanished = false;
    FVanishReported = false;
    FNoModemLines = false;
    FParityOn = false;
    FDecoder.Reset();
    FHaveCounts = false;
    FTally.Start(nullptr);
    DrainWake();
}

void TPosixDeviceLayer::RequireOpen() const {
    if (FFd < 0) throw ECommNotOpen();
}

void TPosixDeviceLayer::SetQueueSizes(std::uint16_t, std::uint16_t) {
    // The kernel sizes a tty's queues itself.
}

TLineSettings TPosixDeviceLayer::LineSettings() {
    RequireOpen();
    termios t{};
    if (::tcgetattr(FFd, &t) != 0) RaiseSystemError(errno);
    TLineSettings s = SettingsFromTermios(t);
    // The driver's own figure also covers rates without a B-constant.
    const std::uint32_t rate = CurrentRate(FFd);
    if (rate > 0 && rate <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max()))
        s.Baud = static_cast<std::int32_t>(rate);
    return s;
}

void TPosixDeviceLayer::SetLineSettings(const TLineSettings& Settings) {
    RequireOpen();
    if (Settings.Baud <= 0) RaiseRateRefused(EINVAL, Settings.Baud);
    termios t{};
    // Tried on a blank copy first, so that nothing reaches the device.
    if (!SettingsToTermios(Settings, t)) throw EInOutError(EINVAL);
    // A rate without a B-constant goes first, so that a refusal leaves the
    // line as it was; the frame is then set on the settings read back,
    // which carry that rate.
    if (!SpeedConstant(Settings.Baud))
        if (const int e = SetAnyRate(FFd, static_cast<std::uint32_t>(Settings.Baud)))
            RaiseRateRefused(e, Settings.Baud);
    if (::tcgetattr(FFd, &t) != 0) RaiseSystemError(errno);
    MakeRaw(t);
    SettingsToTermios(Settings, t);
    if (::tcsetattr(FFd, TCSANOW, &t) != 0) RaiseSystemError(errno);
    FParityOn = Settings.Parity != pNone;
}

void TPosixDeviceLayer::SetModemBit(int Bit, bool Level) {
    RequireOpen();
    if (FNoModemLines || FVanished) return;
    if (::ioctl(FFd, Level ? TIOCMBIS : TIOCMBIC, &Bit) == 0) return;
    const int e = errno;
    if (NoModemIoctl(e)) {
        FNoModemLines = true;
        return;
    }
    // A vanished device is noticed by the waits; the port learns it there.
    if (!DeviceGone(e)) RaiseSystemError(e);
}

void TPosixDeviceLayer::SetDTR(bool Level) { SetModemBit(TIOCM_DTR, Level); }
void TPosixDeviceLayer::SetRTS(bool Level) { SetModemBit(TIOCM_RTS, Level); }

std::uint8_t TPosixDeviceLayer::ModemLevels() {
    if (FFd < 0 || FVanished || FNoModemLines) return 0;
    int bits = 0;
    if (::ioctl(FFd, TIOCMGET, &bits) != 0) {
        if (NoModemIoctl(errno)) FNoModemLines = true;
        return 0;
    }
    std::uint8_t levels = 0;
    if (bits & TIOCM_CTS) levels |= kModemCTS;
    if (bits & TIOCM_DSR) levels |= kModemDSR;
    if (bits & TIOCM_RI) levels |= kModemRI;
    if (bits & TIOCM_CD) levels |= kModemDCD;
    return levels;
}

const TLineCounts* TPosixDeviceLayer::ReadCounts() {
    if (!FHaveCounts) return nullptr;
    serial_icounter_struct c{};
    if (::ioctl(FFd, TIOCGICOUNT, &c) != 0) return nullptr;
    FCounts.Frame = static_cast<unsigned>(c.frame);
    FCounts.Parity = static_cast<unsigned>(c.parity);
    FCounts.Overrun = static_cast<unsigned>(c.overrun);
    FCounts.Brk = static_cast<unsigned>(c.brk);
    FCounts.BufOverrun = static_cast<unsigned>(c.buf_overrun);
    return &FCounts;
}

std::size_t TPosixDeviceLayer::Read(std::uint8_t* Buffer, std::size_t Max, std::uint8_t& Errors) {
    if (FFd < 0 || FVanished || Max == 0) return 0;
    ssize_t n;
    do
        n = ::read(FFd, Buffer, Max);
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (DeviceGone(errno)) FVanished = true;
        n = 0;
    }
    TMarkDecoder::TMarks marks;
    const std::size_t count = FDecoder.Decode(Buffer, static_cast<std::size_t>(n), Buffer, marks);
    Errors |= FTally.Take(marks, ReadCounts(), FParityOn);
    return count;
}

std::size_t TPosixDeviceLayer::Write(const std::uint8_t* Bytes, std::size_t Count) {
    if (FFd < 0 || FVanished || Count == 0) return 0;
    ssize_t n;
    do
        n = ::write(FFd, Bytes, Count);
    while (n < 0 && errno == EINTR);
    if (n >= 0) return static_cast<std::size_t>(n);
    const int e = errno;
    if (e == EAGAIN || e == EWOULDBLOCK) return 0;
    if (DeviceGone(e)) {
        FVanished = true;
        return 0;
    }
    throw EPutBlockFail();
}

void TPosixDeviceLayer::PurgeInput() {
    if (FFd >= 0 && !FVanished) ::tcflush(FFd, TCIFLUSH);
    FDecoder.Reset();
    FTally.Start(ReadCounts());
}

void TPosixDeviceLayer::PurgeOutput() {
    if (FFd >= 0 && !FVanished) ::tcflush(FFd, TCOFLUSH);
}

void TPosixDeviceLayer::DrainWake() {
    eventfd_t value = 0;
    ::eventfd_read(FWakeFd, &value);
}

unsigned TPosixDeviceLayer::WaitEvent(int TimeoutMs) {
    if (FVanished && !FVanishReported) {
        FVanishReported = true;
        return kEventVanished;
    }
    pollfd fds[2] = {{FWakeFd, POLLIN, 0}, {FFd, POLLIN | POLLPRI, 0}};
    const bool watchDevice = FFd >= 0 && !FVanished;
    if (::poll(fds, watchDevice ? 2 : 1, TimeoutMs) <= 0) return 0;
    unsigned events = 0;
    if (fds[0].revents & POLLIN) {
        DrainWake();
        events |= kEventWoken;
    }
    if (watchDevice) {
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            FVanished = true;
            FVanishReported = true;
            events |= kEventVanished;
        } else if (fds[1].revents & (POLLIN | POLLPRI)) {
            events |= kEventInput;
        }
    }
    return events;
}

bool TPosixDeviceLayer::WaitWritable(int TimeoutMs) {
    pollfd fds[2] = {{FWakeFd, POLLIN, 0}, {FFd, POLLOUT, 0}};
    const bool watchDevice = FFd >= 0 && !FVanished;
    if (::poll(fds, watchDevice ? 2 : 1, TimeoutMs) <= 0) return false;
    if (fds[0].revents & POLLIN) DrainWake();
    if (!watchDevice) return false;
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        FVanished = true;
        return false;
    }
    return (fds[1].revents & POLLOUT) != 0;
}

void TPosixDeviceLayer::Wake() { ::eventfd_write(FWakeFd, 1); }

} // namespace volmar

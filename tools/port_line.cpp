#include "tools/port_line.h"

#include "serial/posix_device_layer.h"

#include <cerrno>
#include <fcntl.h>
#include <signal.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>

namespace volmar::machine {

namespace {

std::atomic<TStopRequest*> installed{nullptr};

// Adopts its descriptor where the port would open the device by name.
class TAdoptingLayer : public TPosixDeviceLayer {
  public:
    explicit TAdoptingLayer(int Fd) : FFdToAdopt(Fd) {}
    void Open(const std::string&) override { Adopt(std::exchange(FFdToAdopt, -1)); }

  private:
    int FFdToAdopt;
};

} // namespace

TStopRequest::TStopRequest() {
    if (::pipe2(FPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
}

TStopRequest::~TStopRequest() {
    TStopRequest* self = this;
    if (installed.compare_exchange_strong(self, nullptr))
        for (int sig : {SIGINT, SIGTERM, SIGHUP})
            ::signal(sig, SIG_DFL);
    ::close(FPipe[0]);
    ::close(FPipe[1]);
}

void TStopRequest::OnSignal(int) {
    if (TStopRequest* stop = installed.load()) stop->Request();
}

void TStopRequest::Install() {
    installed = this;
    struct sigaction sa {};
    sa.sa_handler = &TStopRequest::OnSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

void TStopRequest::Request() {
    // Safe in a signal handler: an atomic store and a write.
    const int saved = errno;
    FRequested = true;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(FPipe[1], &byte, 1);
    errno = saved;
}

std::unique_ptr<IDeviceLayer> TMachinePort::CreateDeviceLayer() {
    if (FAdoptFd < 0) return TCustomComPort::CreateDeviceLayer();
    return std::make_unique<TAdoptingLayer>(std::exchange(FAdoptFd, -1));
}

void SetMachineLine(TCustomComPort& Port, int Baud, bool PseudoTerminal) {
    Port.SetBaud(Baud);
    Port.SetDataBits(8);
    Port.SetStopBits(1);
    Port.SetParity(PseudoTerminal ? pNone : pOdd);
}

TPortLine::TPortLine(TCustomComPort& Port, TStopRequest& Stop)
    : FPort(Port), FStop(Stop), FStopNotifier(Stop.Fd(), QSocketNotifier::Read) {
    FTimer.setSingleShot(true);
    FTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&FTimer, &QTimer::timeout, &FLoop, &QEventLoop::quit);
    QObject::connect(&FStopNotifier, &QSocketNotifier::activated, &FLoop, &QEventLoop::quit);
    FPort.OnTriggerAvail = [this](TCustomComPort*, std::uint16_t) { FLoop.quit(); };
    FPort.OnDeviceLost = [this](TCustomComPort*) { FLoop.quit(); };
    FPort.UpdateHandlerFlags();
}

TPortLine::~TPortLine() {
    FPort.OnTriggerAvail = nullptr;
    FPort.OnDeviceLost = nullptr;
    FPort.UpdateHandlerFlags();
}

template <typename Pred> bool TPortLine::WaitUntil(Clock::time_point Deadline, Pred Done) {
    for (;;) {
        if (FStop.Requested()) throw EStopRequested();
        if (Done()) return true;
        if (FPort.DeviceLost()) throw ELineGone(FPort.DevicePath() + ": the line went away");
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Clock::now());
        if (left.count() <= 0) return false;
        FTimer.start(static_cast<int>(left.count()));
        FLoop.exec();
        FTimer.stop();
    }
}

void TPortLine::Send(const std::vector<std::uint8_t>& Bytes) {
    if (FStop.Requested()) throw EStopRequested();
    if (FPort.DeviceLost()) throw ELineGone(FPort.DevicePath() + ": the line went away");
    FPort.PutString(std::string(Bytes.begin(), Bytes.end()));
}

std::optional<std::uint8_t> TPortLine::WaitByte(int TimeoutMs) {
    if (WaitUntil(Clock::now() + std::chrono::milliseconds(TimeoutMs),
                  [this] { return FPort.CharReady(); }))
        return FPort.GetChar();
    return std::nullopt;
}

void TPortLine::DiscardInput() {
    while (FPort.CharReady())
        FPort.GetChar();
}

void TPortLine::Idle(int Ms) {
    WaitUntil(Clock::now() + std::chrono::milliseconds(Ms), [] { return false; });
}

void TPortLine::SetRTS(bool On) {
    FPort.SetRTS(On);
}

void TPortLine::Drain(int TimeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (FPort.OutBuffUsed() > 0 && !FPort.DeviceLost() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

} // namespace volmar::machine

// The machine's line over the project's serial port: waits run the Qt event
// loop of the calling thread, woken by the port's notifications, by a stop
// request or by their deadline.
#pragma once

#include "serial/com_port.h"
#include "tools/machine_exchange.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>

namespace volmar::machine {

// A stop asked for by SIGINT, SIGTERM or SIGHUP (after Install) or by
// Request from any thread. Poll Fd for readability to wait for it.
class TStopRequest {
  public:
    TStopRequest();
    ~TStopRequest();
    TStopRequest(const TStopRequest&) = delete;
    TStopRequest& operator=(const TStopRequest&) = delete;

    // Routes the three signals here; one instance at a time.
    void Install();
    void Request();
    bool Requested() const { return FRequested.load(); }
    int Fd() const { return FPipe[0]; }

  private:
    static void OnSignal(int);
    std::atomic<bool> FRequested{false};
    int FPipe[2] = {-1, -1};
};

// A port that serves a descriptor handed to it, such as the master of a
// pseudo-terminal, instead of opening its device path.
class TMachinePort : public TCustomComPort {
  public:
    // The next SetOpen(true) takes over Fd (closed with the port).
    void AdoptOnOpen(int Fd) { FAdoptFd = Fd; }

  protected:
    std::unique_ptr<IDeviceLayer> CreateDeviceLayer() override;

  private:
    int FAdoptFd = -1;
};

// The machine's line settings: the baud, 8 data bits, 1 stop bit, and odd
// parity on a serial device. A pseudo-terminal carries no bits and Linux
// drops parity on one (tcsetattr then reports EINVAL), so it keeps none.
void SetMachineLine(TCustomComPort& Port, int Baud, bool PseudoTerminal);

class TPortLine : public IMachineLine {
  public:
    // The port must be open; the line takes over its data and device-lost
    // events.
    TPortLine(TCustomComPort& Port, TStopRequest& Stop);
    ~TPortLine() override;

    void Send(const std::vector<std::uint8_t>& Bytes) override;
    std::optional<std::uint8_t> WaitByte(int TimeoutMs) override;
    void DiscardInput() override;
    void Idle(int Ms) override;
    void SetRTS(bool On) override;

    // Waits until everything sent has gone to the device, at most TimeoutMs.
    void Drain(int TimeoutMs);

  private:
    using Clock = std::chrono::steady_clock;
    // Runs the event loop until Done holds (true) or the deadline passes.
    template <typename Pred> bool WaitUntil(Clock::time_point Deadline, Pred Done);

    TCustomComPort& FPort;
    TStopRequest& FStop;
    QEventLoop FLoop;
    QTimer FTimer;
    QSocketNotifier FStopNotifier;
};

} // namespace volmar::machine

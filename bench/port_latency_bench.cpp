// The reply latency a machine sees from a port handler on the UI thread,
// beside a minimal poll/read/write responder on the same kind of line, and
// the CPU an open, idle port costs.
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "latency_stats.h"
#include "pty_machine.h"
#include "serial/com_port.h"

using namespace volmar;
using namespace volmar::bench;

namespace {

constexpr int kExchanges = 10000;
const std::vector<std::uint8_t> kFrame = {0x26, 0x26};

std::vector<double> RunMachine(int Fd, std::atomic<bool>& Done) {
    std::vector<double> us;
    us.reserve(kExchanges);
    for (int i = 0; i < kExchanges; ++i) {
        const double t = Exchange(Fd, kFrame);
        if (t < 0) break;
        us.push_back(t);
    }
    Done = true;
    return us;
}

// The floor: a plain responder thread, no Qt, no port component.
std::vector<double> Floor() {
    PtyPair pty;
    std::atomic<bool> done{false};
    std::thread responder([&] { AnswerEveryFrame(pty.Slave, done); });
    termios t{};
    ::tcgetattr(pty.Slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(pty.Slave, TCSANOW, &t);
    auto us = RunMachine(pty.Master, done);
    done = true;
    responder.join();
    return us;
}

std::vector<double> ThroughThePort() {
    PtyPair pty;
    pty.ReleaseSlave();
    TCustomComPort port;
    port.SetDevicePath(pty.SlavePath);
    port.SetAutoOpen(false);
    int have = 0;
    port.OnTriggerAvail = [&](TCustomComPort* cp, std::uint16_t count) {
        for (int i = 0; i < count; ++i) cp->GetChar();
        have += count;
        while (have >= 2) {
            cp->PutChar(0x06);
            have -= 2;
        }
    };
    port.SetOpen(true);
    std::atomic<bool> done{false};
    std::vector<double> us;
    QEventLoop loop;
    std::thread machine([&] {
        us = RunMachine(pty.Master, done);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    machine.join();
    port.SetOpen(false);
    return us;
}

double CpuSeconds() {
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

void IdleCost(int Seconds) {
    PtyPair pty;
    pty.ReleaseSlave();
    TCustomComPort port;
    port.SetDevicePath(pty.SlavePath);
    port.OnTriggerAvail = [](TCustomComPort*, std::uint16_t) {};
    port.SetOpen(true);
    const auto timer = port.AddTimerTrigger();
    (void)timer;
    const double before = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(Seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double used = CpuSeconds() - before;
    std::printf("idle open port: %.3f s CPU in %d s = %.3f%% of one core\n", used, Seconds,
                100.0 * used / Seconds);
    port.SetOpen(false);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const auto floor = Floor();
    const auto port = ThroughThePort();
    Print("floor (poll/read/write)", Summarise(floor), floor.size());
    Print("port handler on UI thread", Summarise(port), port.size());
    if (floor.size() != kExchanges || port.size() != kExchanges) {
        std::printf("lost exchanges\n");
        return 1;
    }
    IdleCost(idleSeconds);
    return 0;
}

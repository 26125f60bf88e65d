// A lab on one small host: N copies side by side, each answering its own
// stand-in machine on a pseudo-terminal at a 9600-baud line's full rate (a
// two-byte message about every 3 ms), first N plain QSerialPort responders
// under the same load, then N headless simulators. Prints each one's
// p50/p99 and memory (RSS at the end of its run), whether every message was
// counted exactly once, and the worst simulator's p99 against the slowest
// QSerialPort responder's. Figures only: nothing here passes or fails on time.
//
//   bench_lab_copies [copies] [messages per copy]     (16 and 2000 by default)
//   BENCH_VOLMARSIM=path runs another build of the simulator instead.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "latency_stats.h"
#include "support/machine_session.h"
#include "support/program_process.h"

using namespace volmar;
using namespace volmar::bench;
using namespace volmar::testing;

namespace {

// 100Ft In, header only: a header and its check byte.
constexpr std::uint8_t kCode = 0x26;
constexpr std::int32_t kValue = 100;
constexpr std::size_t kSettleExchanges = 1;
const std::vector<std::string> kMachineArgs{"--retries", "0", "--reply-timeout", "2000"};

// The line's full rate: the next message 3 ms after the last answer.
std::string Messages(int Count) {
    std::string s = "# " + std::to_string(Count) + " header-only messages, one every 3 ms\n";
    for (int i = 0; i < Count; ++i) s += "send 26h -> Ack\npause 3\n";
    return s;
}

// Resident memory of Pid in KiB, from /proc; 0 when it is gone.
long RssKiB(pid_t Pid) {
    std::istringstream in(ReadWholeFile(fs::path("/proc") / std::to_string(Pid) / "status"));
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("VmRSS:")) return std::atol(line.c_str() + 6);
    return 0;
}

struct Copy {
    std::unique_ptr<ProgramFolder> Folder;
    MachineRun Machine;
    pid_t Pid = -1;
    std::vector<double> Us;
    long RssKiB = 0;
    bool Exact = false;
    std::string Problem;
};

// Starts every machine and its responder, reads all machines at once (a
// machine whose report nobody reads would stall), and checks each count.
// Simulators: the responder is the simulator in a folder of its own.
std::vector<Copy> Run(int N, int Count, bool Simulators) {
    const char* other = std::getenv("BENCH_VOLMARSIM");
    const std::string simulator = other && *other ? other : VOLMARSIM_PATH;
    std::vector<Copy> copies(static_cast<std::size_t>(N));
    // Time for all N to start before the first message; then they run together.
    const std::string start = "pause " + std::to_string(2000 + 400 * N) + "\n";
    const std::size_t skip = Simulators ? kSettleExchanges : 0;
    for (Copy& c : copies) {
        c.Folder = std::make_unique<ProgramFolder>(simulator, "volmarlab");
        const std::string script =
            start + (Simulators ? kSettleLines : "") + Messages(Count) + kHoldLines;
        if (!c.Machine.Start(VOLMAR_MACHINE_PATH, c.Folder->Dir, script, kMachineArgs)) {
            c.Problem = c.Machine.Transcript();
            continue;
        }
        if (Simulators) {
            c.Folder->WriteSettings(c.Machine.Device, "[Capture]\nOn=0\n");
            c.Pid = c.Folder->Launch({"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="},
                                     {"--headless", "--quiet"});
        } else {
            c.Pid = SpawnProcess(BENCH_QSERIALPORT_PATH, {c.Machine.Device}, ChildEnvironment({}));
        }
        if (c.Pid <= 0 || !WaitUntilHeldOpen(c.Pid, c.Machine.Device, 15000))
            c.Problem = "the responder did not open " + c.Machine.Device;
    }
    std::vector<std::thread> readers;
    for (Copy& c : copies)
        readers.emplace_back([&c, Count, skip] {
            if (c.Problem.empty() &&
                !c.Machine.AwaitExchanges(skip + static_cast<std::size_t>(Count), 600000))
                c.Problem = "the machine did not finish: " + c.Machine.Problem;
        });
    for (std::thread& t : readers) t.join();

    for (Copy& c : copies) {
        c.RssKiB = RssKiB(c.Pid);
        long acked = 0;
        for (std::size_t i = skip; i < c.Machine.Exchanges.size(); ++i) {
            const MachineExchange& x = c.Machine.Exchanges[i];
            if (x.Answer == "Ack" && x.Retries == 0) ++acked;
            if (x.Micros) c.Us.push_back(*x.Micros);
        }
        bool counted = true;
        if (Simulators) {
            ::kill(c.Pid, SIGTERM);
            counted = WaitForExit(c.Pid, 15000) == 0;
            const auto counters = CountersFromBytes(c.Folder->Counters());
            counted = counted && counters && counters->Codes[kCode].Messages == Count &&
                      counters->Codes[kCode].Retries == 0 && counters->In == Count * kValue;
        }
        KillAndReap(c.Pid);
        c.Machine.Stop();
        c.Machine.Finish(15000);
        c.Exact = c.Problem.empty() && counted && acked == Count;
    }
    return copies;
}

// The table of one kind of responder; returns the worst p99.
double Report(const char* Kind, const std::vector<Copy>& Copies, bool& Whole) {
    std::printf("\n%s\n", Kind);
    double worst = 0;
    for (std::size_t i = 0; i < Copies.size(); ++i) {
        const Copy& c = Copies[i];
        const LatencyStats s = Summarise(c.Us);
        worst = std::max(worst, s.P99);
        std::printf("  copy %2zu  n=%5zu  p50=%8.1f us  p99=%8.1f us  max=%8.1f us  RSS=%6.1f MiB  %s\n",
                    i + 1, c.Us.size(), s.P50, s.P99, s.Max, static_cast<double>(c.RssKiB) / 1024,
                    c.Exact ? "exact" : "NOT EXACT");
        if (!c.Problem.empty()) std::printf("    %s\n", c.Problem.c_str());
        Whole = Whole && c.Exact;
    }
    return worst;
}

std::string LoadAverage() {
    const std::string s = ReadWholeFile("/proc/loadavg");
    return s.empty() ? "unknown\n" : s;
}

} // namespace

int main(int argc, char** argv) {
    const int n = argc > 1 ? std::atoi(argv[1]) : 16;
    const int count = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (n < 1 || n > 64 || count < 1) {
        std::fprintf(stderr, "usage: %s [copies 1..64] [messages per copy]\n", argv[0]);
        return 2;
    }
    std::printf("== %d copies side by side, %d header-only messages each, one every 3 ms ==\n",
                n, count);
    std::printf("load average before: %s", LoadAverage().c_str());
    bool whole = true;
    const double yardstick =
        Report("QSerialPort responders", Run(n, count, false), whole);
    std::printf("load average between: %s", LoadAverage().c_str());
    const double worst = Report("headless simulators", Run(n, count, true), whole);
    std::printf("load average after: %s", LoadAverage().c_str());
    std::printf("\nworst simulator p99 %.1f us, slowest QSerialPort p99 %.1f us: x%.2f "
                "(target x1.20); every message counted once: %s\n",
                worst, yardstick, yardstick > 0 ? worst / yardstick : 0.0, whole ? "yes" : "NO");
    return whole ? 0 : 1;
}

// The reply latency the stand-in machine sees from the whole simulator, run
// as its own process over a pseudo-terminal: once as the window, offscreen
// with its meters spinning, once headless and quiet, each with its traffic
// capture off and on (the default); beside them the floor:
// the same machine and the same messages against a plain poll/read/write
// responder on the same kind of line. Each simulator's counters file after
// SIGTERM tells whether any message was lost or acted on twice. Figures
// only: nothing here passes or fails on time.
//
//   bench_machine_latency [messages]     (10000 by default)
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "latency_stats.h"
#include "pty_machine.h"
#include "support/machine_session.h"
#include "support/program_process.h"

using namespace volmar;
using namespace volmar::bench;
using namespace volmar::testing;

namespace {

constexpr std::uint8_t kCode = 0x26;  // 100Ft In, header only
constexpr std::int32_t kValue = 100;

// In lock step: the machine sends the next message only after the answer.
std::string Messages(int Count) {
    std::string s = "# " + std::to_string(Count) + " header-only messages, one at a time\n";
    for (int i = 0; i < Count; ++i) s += "send 26h -> Ack\n";
    return s;
}

constexpr std::size_t kSettleExchanges = 1;

const std::vector<std::string> kMachineArgs{"--retries", "0", "--reply-timeout", "2000"};

struct Figures {
    std::vector<double> Us;
    std::size_t Answered = 0;  // exchanges answered ACK
    std::size_t Reported = 0;  // exchange lines of the measured messages
    std::optional<int> MachineStatus;
    std::string Transcript;
};

void Collect(Figures& F, const std::vector<MachineExchange>& Exchanges, std::size_t Skip) {
    for (std::size_t i = Skip; i < Exchanges.size(); ++i) {
        ++F.Reported;
        if (Exchanges[i].Answer == "Ack") ++F.Answered;
        if (Exchanges[i].Micros) F.Us.push_back(*Exchanges[i].Micros);
    }
}

Figures Floor(const fs::path& Folder, int Count) {
    Figures f;
    MachineRun machine;
    if (!machine.Start(VOLMAR_MACHINE_PATH, Folder, Messages(Count), kMachineArgs)) {
        f.Transcript = machine.Transcript();
        return f;
    }
    const int fd = ::open(machine.Device.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        f.Transcript = "cannot open " + machine.Device;
        return f;
    }
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    std::atomic<bool> done{false};
    std::thread responder([&] { AnswerEveryFrame(fd, done); });
    f.MachineStatus = machine.Finish(600000);
    done = true;
    responder.join();
    ::close(fd);
    Collect(f, machine.Exchanges, 0);
    f.Transcript = machine.Transcript();
    return f;
}

std::string LoadAverage() {
    const std::string s = ReadWholeFile("/proc/loadavg");
    return s.empty() ? "unknown\n" : s;
}

// A transcript's problem, its last lines and the machine's errors, without
// the thousands of exchange lines before.
std::string Gist(const std::string& Transcript) {
    std::vector<std::string> lines;
    std::istringstream in(Transcript);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    std::string s;
    const std::size_t keep = 12;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (i + keep >= lines.size() || lines[i].starts_with("problem:") ||
            lines[i].starts_with("machine's errors:") || !ParseExchange(lines[i]))
            s += lines[i] + "\n";
    return s;
}

void PrintRatio(const LatencyStats& Program, const LatencyStats& Floor) {
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("  ratio to the floor        p50 x%.1f  p99 x%.1f  max x%.1f\n",
                ratio(Program.P50, Floor.P50), ratio(Program.P99, Floor.P99),
                ratio(Program.Max, Floor.Max));
}

// One way of running the simulator, each in a folder of its own so that
// its counters hold its own run only.
struct Variant {
    const char* Name;
    std::vector<std::string> Args;
    std::string ExtraSettings;
};

struct SimulatorRun {
    Figures Line;
    bool Whole = false;
    std::string Report;  // the counters' check, printed after the figures
};

SimulatorRun Simulate(const Variant& V, int Count) {
    SimulatorRun run;
    ProgramFolder folder(VOLMARSIM_PATH, "volmarbench");
    const auto session =
        RunSession(VOLMAR_MACHINE_PATH, folder, kSettleLines + Messages(Count),
                   kSettleExchanges + static_cast<std::size_t>(Count),
                   {kMachineArgs, V.ExtraSettings, 600000}, V.Args);
    run.Line.MachineStatus = session.MachineStatus;
    run.Line.Transcript = session.Transcript;
    Collect(run.Line, session.Exchanges, kSettleExchanges);

    // Every message once: as many first transmissions as were sent, no
    // retries, and the money of each exactly once.
    const auto counters = CountersFromBytes(folder.Counters());
    long lost = Count;
    long twice = 0;
    char line[256];
    if (counters) {
        const long messages = counters->Codes[kCode].Messages;
        const long retries = counters->Codes[kCode].Retries;
        lost = messages < Count ? Count - messages : 0;
        twice = (messages > Count ? messages - Count : 0) + retries;
        std::snprintf(line, sizeof line,
                      "  counters file             26h messages=%ld retries=%ld In=%d "
                      "(expected %d, %ld, In %ld)\n",
                      messages, retries, counters->In, Count, 0L,
                      static_cast<long>(Count) * kValue);
        run.Report += line;
        if (counters->In != static_cast<std::int64_t>(Count) * kValue) {
            run.Report += "  In total does not match the messages\n";
            ++twice;
        }
    } else {
        run.Report += "  counters file             missing or not whole\n";
    }
    const long unanswered = Count - static_cast<long>(run.Line.Answered);
    std::snprintf(line, sizeof line,
                  "  lost %ld, acted on twice %ld, not answered ACK on the line %ld\n", lost,
                  twice, unanswered);
    run.Report += line;
    // The window writes back the options it ran with.
    if (V.Args.empty()) {
        const bool spinning = folder.Settings().find("Big Meter Spin=1") != std::string::npos &&
                              folder.Settings().find("Small Meter Spin=1") != std::string::npos;
        run.Report += std::string("  meters spinning           ") +
                      (spinning ? "yes, big and small" : "NO") + "\n";
    }
    run.Report += "  ended on SIGTERM with     " +
                  (session.ProgramStatus ? std::to_string(*session.ProgramStatus) : "no exit") +
                  "\n";
    run.Whole = session.Started && run.Line.MachineStatus == 0 && lost == 0 && twice == 0 &&
                unanswered == 0 && session.ProgramStatus == 0;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: %s [messages]\n", argv[0]);
        return 2;
    }
    std::printf("%d header-only messages (code 26h, 100Ft In) in lock step from the stand-in "
                "machine\n",
                count);

    const std::string spin = "[Options]\nBig Meter Spin=1\nSmall Meter Spin=1\n";
    const std::string noCapture = "[Capture]\nOn=0\n";
    // In pairs: capture off, then on.
    const Variant variants[] = {
        {"window, capture off", {}, spin + noCapture},
        {"window, capture on", {}, spin},
        {"headless, capture off", {"--headless", "--quiet"}, noCapture},
        {"headless, capture on", {"--headless", "--quiet"}, {}},
    };
    ProgramFolder scratch(VOLMARSIM_PATH, "volmarbench");
    // Half the floor before the simulators' runs and half after, so that a
    // change in the machine's load meanwhile weighs on all alike.
    std::printf("load average before: %s", LoadAverage().c_str());
    Figures floor = Floor(scratch.Dir, count / 2);
    std::vector<SimulatorRun> runs;
    for (const Variant& v : variants) runs.push_back(Simulate(v, count));
    {
        const Figures after = Floor(scratch.Dir, count - count / 2);
        floor.Us.insert(floor.Us.end(), after.Us.begin(), after.Us.end());
        floor.Answered += after.Answered;
        floor.Reported += after.Reported;
        if (floor.MachineStatus == 0) floor.MachineStatus = after.MachineStatus;
        floor.Transcript += after.Transcript;
    }
    std::printf("load average after:  %s", LoadAverage().c_str());

    const auto floorStats = Summarise(floor.Us);
    Print("floor (poll/read/write)", floorStats, floor.Us.size());
    std::printf("  not answered ACK on the line %ld\n", count - static_cast<long>(floor.Answered));
    bool whole = true;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto stats = Summarise(runs[i].Line.Us);
        Print(variants[i].Name, stats, runs[i].Line.Us.size());
        PrintRatio(stats, floorStats);
        std::printf("  p99                       %s the 2000 us target\n",
                    stats.P99 < 2000 ? "below" : "ABOVE");
        if (i % 2 == 1) {
            const auto off = Summarise(runs[i - 1].Line.Us);
            std::printf("  capture on / off          p50 x%.2f, p99 x%.2f\n",
                        stats.P50 / off.P50, stats.P99 / off.P99);
        }
        std::printf("%s", runs[i].Report.c_str());
        whole = whole && runs[i].Whole;
    }

    const bool floorWhole = floor.MachineStatus == 0 && floor.Answered == floor.Reported &&
                            floor.Reported == static_cast<std::size_t>(count);
    if (!floorWhole)
        std::printf("--- the floor's run was not whole ---\n%s", Gist(floor.Transcript).c_str());
    for (std::size_t i = 0; i < runs.size(); ++i)
        if (!runs[i].Whole)
            std::printf("--- the run of the %s was not whole ---\n%s", variants[i].Name,
                        Gist(runs[i].Line.Transcript).c_str());
    return floorWhole && whole ? 0 : 1;
}

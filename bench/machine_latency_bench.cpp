// The reply latency the stand-in machine sees, each responder its own
// process on a fresh pseudo-terminal, taken in turns within one run: the
// floor (a plain poll/read/write loop), a plain QSerialPort responder, and
// the whole simulator, as the window offscreen, headless, and as the window
// on the display when DISPLAY is set. Two loads: lock step, and a message
// every 150 ms rotating through four denominations; then each simulator's
// use of a core with its port open and the line quiet. Each simulator's
// counters file after SIGTERM tells whether any message was lost or acted
// on twice. Figures only: nothing here passes or fails on time.
//
//   bench_machine_latency [lock-step messages] [paced messages] [turns]
//                                            (4000, 200 and 2 by default)
//   BENCH_VOLMARSIM=path runs another build of the simulator instead;
//   BENCH_VOLMARSIM_BESIDE=path measures another build beside it, in the same turns.
//   BENCH_CAPTURE_FORMAT=text|jsonl|pcapng: the format captured in (the settings' default: text).
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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

// 100, 200, 500 and 1000Ft In, header only.
constexpr std::uint8_t kCodes[] = {0x26, 0x27, 0x28, 0x29};
constexpr std::int32_t kValues[] = {100, 200, 500, 1000};

struct Load {
    const char* Name;
    bool Paced;  // a message every 150 ms, the denominations in turn
};

std::uint8_t CodeOf(const Load& L, int I) { return L.Paced ? kCodes[I % 4] : kCodes[0]; }
std::int64_t ValueOf(const Load& L, int I) { return L.Paced ? kValues[I % 4] : kValues[0]; }

std::string Messages(const Load& L, int Count) {
    std::string s = "# " + std::to_string(Count) + " header-only messages\n";
    char line[64];
    for (int i = 0; i < Count; ++i) {
        std::snprintf(line, sizeof line, "send %02Xh -> Ack\n%s", CodeOf(L, i),
                      L.Paced ? "pause 150\n" : "");
        s += line;
    }
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

// A responder program of its own on the line; it opens the device, so
// the machine waits a moment before the first message.
Figures Respond(const std::string& Program, const fs::path& Folder, const Load& L, int Count) {
    Figures f;
    MachineRun machine;
    if (!machine.Start(VOLMAR_MACHINE_PATH, Folder, "pause 1000\n" + Messages(L, Count),
                       kMachineArgs)) {
        f.Transcript = machine.Transcript();
        return f;
    }
    pid_t pid = SpawnProcess(Program, {machine.Device}, ChildEnvironment({}));
    if (pid <= 0 || !WaitUntilHeldOpen(pid, machine.Device, 900)) {
        f.Transcript = Program + " did not open " + machine.Device;
        KillAndReap(pid);
        return f;
    }
    f.MachineStatus = machine.Finish(600000);
    KillAndReap(pid);
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

void PrintRatio(const char* To, const LatencyStats& Program, const LatencyStats& Base) {
    const auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("  ratio to %-16s p50 x%.2f  p90 x%.2f  p99 x%.2f  max x%.2f\n", To,
                ratio(Program.P50, Base.P50), ratio(Program.P90, Base.P90),
                ratio(Program.P99, Base.P99), ratio(Program.Max, Base.Max));
}

// One way of running the simulator, each in a folder of its own so that
// its counters hold its own run only.
struct Variant {
    std::string Name;
    std::vector<std::string> Args;
    std::string ExtraSettings;
    std::vector<std::string> Environment;
    // Another build of the simulator; empty: this one (or BENCH_VOLMARSIM's).
    std::string Program;
};

// BENCH_VOLMARSIM names another build of the simulator, to compare two.
std::string SimulatorPath(const Variant& V) {
    if (!V.Program.empty()) return V.Program;
    const char* other = std::getenv("BENCH_VOLMARSIM");
    return other && *other ? other : VOLMARSIM_PATH;
}

struct SimulatorRun {
    Figures Line;
    bool Whole = false;
    std::string Report;  // the counters' check, printed after the figures
};

SimulatorRun Simulate(const Variant& V, const Load& L, int Count) {
    SimulatorRun run;
    ProgramFolder folder(SimulatorPath(V), "volmarbench");
    const auto session =
        RunSession(VOLMAR_MACHINE_PATH, folder, kSettleLines + Messages(L, Count),
                   kSettleExchanges + static_cast<std::size_t>(Count),
                   {kMachineArgs, V.ExtraSettings, 600000}, V.Args, V.Environment);
    run.Line.MachineStatus = session.MachineStatus;
    run.Line.Transcript = session.Transcript;
    // What the simulator said tells why a run that failed to start failed.
    if (!session.Started && !session.ProgramErrors.empty())
        run.Line.Transcript += "simulator's errors:\n" + session.ProgramErrors;
    Collect(run.Line, session.Exchanges, kSettleExchanges);

    // Every message once: as many first transmissions as were sent, no
    // retries, and the money of each exactly once.
    const auto counters = CountersFromBytes(folder.Counters());
    long lost = Count;
    long twice = 0;
    char line[256];
    std::int64_t expectedIn = 0;
    for (int i = 0; i < Count; ++i) expectedIn += ValueOf(L, i);
    if (counters) {
        long messages = 0;
        long retries = 0;
        for (const std::uint8_t code : kCodes) {
            messages += counters->Codes[code].Messages;
            retries += counters->Codes[code].Retries;
        }
        lost = messages < Count ? Count - messages : 0;
        twice = (messages > Count ? messages - Count : 0) + retries;
        std::snprintf(line, sizeof line,
                      "  counters file             messages=%ld retries=%ld In=%lld "
                      "(expected %d, 0, In %lld)\n",
                      messages, retries, static_cast<long long>(counters->In), Count,
                      static_cast<long long>(expectedIn));
        run.Report += line;
        if (counters->In != expectedIn) {
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
    if (V.Args.empty() && V.Environment.empty()) {
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

struct Responder {
    std::string Name;
    std::string Program;  // empty: the simulator
    Variant Simulator;
};

// CPU time of all the threads of Pid so far, in nanoseconds.
std::uint64_t CpuNanoseconds(pid_t Pid) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(fs::path("/proc") / std::to_string(Pid) / "task", ec)) {
        std::istringstream in(ReadWholeFile(task.path() / "schedstat"));
        std::uint64_t ns = 0;
        if (in >> ns) total += ns;
    }
    return total;
}

// The share of one core a simulator takes with its port open and nothing
// on the line, over Seconds after it has settled; negative if it did not run.
double IdleShare(const Variant& V, int Seconds) {
    PtyPair pty;
    pty.ReleaseSlave();
    ProgramFolder folder(SimulatorPath(V), "volmarbench");
    folder.WriteSettings(pty.SlavePath, V.ExtraSettings);
    pid_t pid = folder.Launch(V.Environment, V.Args);
    double share = -1;
    if (pid > 0 && WaitUntilHeldOpen(pid, pty.SlavePath, 10000)) {
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const std::uint64_t before = CpuNanoseconds(pid);
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(Seconds));
        const std::uint64_t used = CpuNanoseconds(pid) - before;
        const double wall = std::chrono::duration<double, std::nano>(
                                std::chrono::steady_clock::now() - start)
                                .count();
        share = 100.0 * static_cast<double>(used) / wall;
    }
    ::kill(pid, SIGTERM);
    WaitForExit(pid, 10000);
    KillAndReap(pid);
    return share;
}

struct Tally {
    Figures Line;
    std::vector<LatencyStats> Turns;
    bool Whole = true;
    std::string Report;
};

// The median over the turns of A's figure to B's in the same turn: one
// turn the machine was disturbed in does not decide it.
double MedianRatio(const Tally& A, const Tally& B, double LatencyStats::*Figure) {
    std::vector<double> ratios;
    for (std::size_t t = 0; t < A.Turns.size() && t < B.Turns.size(); ++t)
        if (B.Turns[t].*Figure > 0) ratios.push_back(A.Turns[t].*Figure / (B.Turns[t].*Figure));
    if (ratios.empty()) return 0;
    std::sort(ratios.begin(), ratios.end());
    const std::size_t n = ratios.size();
    return n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
}

void PrintTurnRatios(const char* What, const Tally& A, const Tally& B) {
    if (A.Turns.size() < 3) return;
    std::printf("  %-25s p50 x%.2f  p99 x%.2f  (median of %zu turns)\n", What,
                MedianRatio(A, B, &LatencyStats::P50), MedianRatio(A, B, &LatencyStats::P99),
                A.Turns.size());
}

} // namespace

int main(int argc, char** argv) {
    const int lockStep = argc > 1 ? std::atoi(argv[1]) : 4000;
    const int paced = argc > 2 ? std::atoi(argv[2]) : 200;
    const int turns = argc > 3 ? std::atoi(argv[3]) : 2;
    if (lockStep <= 1 || paced <= 1 || turns < 1 || turns > std::min(lockStep, paced)) {
        std::fprintf(stderr, "usage: %s [lock-step messages] [paced messages] [turns]\n",
                     argv[0]);
        return 2;
    }
    const std::string spin = "[Options]\nBig Meter Spin=1\nSmall Meter Spin=1\n";
    const std::string noCapture = "[Capture]\nOn=0\n";
    // The capture's format for the rows with capture on; none given: the default.
    std::string captureOn;
    if (const char* format = std::getenv("BENCH_CAPTURE_FORMAT"); format && *format) {
        const std::string f = format;
        if (f != "text" && f != "jsonl" && f != "pcapng") {
            std::fprintf(stderr, "BENCH_CAPTURE_FORMAT is text, jsonl or pcapng, not %s\n", format);
            return 2;
        }
        captureOn = "[Capture]\nFormat=" + f + "\n";
        std::printf("capture format: %s\n", format);
    }
    // The simulators capture their traffic and judge the machine by default;
    // each is measured without capture too, and the headless one without the
    // judge, right after, to show what each costs.
    std::vector<Responder> responders = {
        {"floor (poll/read/write)", BENCH_FLOOR_PATH, {}},
        {"QSerialPort responder", BENCH_QSERIALPORT_PATH, {}},
        {"simulator, window offscreen", {}, {"window offscreen", {}, spin + captureOn, {}, {}}},
        {"  the same, capture off", {}, {"window offscreen", {}, spin + noCapture, {}, {}}},
        {"simulator, headless", {}, {"headless", {"--headless", "--quiet"}, captureOn, {}, {}}},
        {"  the same, capture off", {}, {"headless", {"--headless", "--quiet"}, noCapture, {}, {}}},
        {"  the same, judge off", {}, {"headless", {"--headless", "--quiet", "--no-judge"}, captureOn, {}, {}}},
    };
    // BENCH_VOLMARSIM_BESIDE names another build measured in the same turns,
    // so that a change's cost is not hidden by the machine's moods between runs.
    if (const char* beside = std::getenv("BENCH_VOLMARSIM_BESIDE"); beside && *beside) {
        responders.push_back({"other build, window offscreen", {},
                              {"window offscreen", {}, spin, {}, beside}});
        responders.push_back({"other build, headless", {},
                              {"headless", {"--headless", "--quiet"}, {}, {}, beside}});
    }
    if (const char* display = std::getenv("DISPLAY"); display && *display) {
        const char* platform = std::getenv("QT_QPA_PLATFORM");
        const std::string qpa = platform && *platform && std::string(platform) != "offscreen"
                                    ? platform
                                    : "xcb";
        responders.push_back({std::string("simulator, window on ") + display,
                              {},
                              {"window on the display", {}, spin, {"QT_QPA_PLATFORM=" + qpa}, {}}});
    }
    const Load loads[] = {{"lock step", false}, {"a message every 150 ms", true}};
    ProgramFolder scratch(VOLMARSIM_PATH, "volmarbench");
    bool whole = true;
    for (const Load& load : loads) {
        const int count = load.Paced ? paced : lockStep;
        std::printf("\n== %s: %d header-only messages (26h%s) from the stand-in machine ==\n",
                    load.Name, count, load.Paced ? " 27h 28h 29h in turn" : "");
        std::printf("load average before: %s", LoadAverage().c_str());
        // In turns, each responder a share of the messages in each, so that
        // a change in the machine's load meanwhile weighs on all alike.
        std::vector<Tally> tallies(responders.size());
        for (int turn = 0; turn < turns; ++turn) {
            const int n = count / turns + (turn < count % turns ? 1 : 0);
            // Each turn starts one responder further on, so that none always
            // runs right after the same one; and what the one before wrote
            // goes to the disk before the next starts, not during its run.
            for (std::size_t k = 0; k < responders.size(); ++k) {
                const std::size_t i = (k + static_cast<std::size_t>(turn)) % responders.size();
                ::sync();
                const Responder& r = responders[i];
                Tally& t = tallies[i];
                Figures f;
                bool ok = true;
                if (r.Program.empty()) {
                    SimulatorRun run = Simulate(r.Simulator, load, n);
                    f = std::move(run.Line);
                    ok = run.Whole;
                    t.Report += run.Report;
                } else {
                    f = Respond(r.Program, scratch.Dir, load, n);
                    const long unanswered = n - static_cast<long>(f.Answered);
                    ok = f.MachineStatus == 0 && unanswered == 0 &&
                         f.Reported == static_cast<std::size_t>(n);
                    t.Report += "  not answered ACK on the line " + std::to_string(unanswered) +
                                "\n";
                }
                t.Turns.push_back(Summarise(f.Us));
                t.Line.Us.insert(t.Line.Us.end(), f.Us.begin(), f.Us.end());
                if (!ok) {
                    t.Whole = false;
                    t.Line.Transcript += f.Transcript;
                }
            }
        }
        std::printf("load average after:  %s", LoadAverage().c_str());
        const auto yardstick = Summarise(tallies[1].Line.Us);
        for (std::size_t i = 0; i < responders.size(); ++i) {
            const auto stats = Summarise(tallies[i].Line.Us);
            Print(responders[i].Name.c_str(), stats, tallies[i].Line.Us.size());
            if (responders[i].Program.empty()) {
                PrintRatio("QSerialPort", stats, yardstick);
                PrintTurnRatios("to QSerialPort, by turn", tallies[i], tallies[1]);
            }
            if (responders[i].Name.starts_with("  the same, capture off")) {
                const auto on = Summarise(tallies[i - 1].Line.Us);
                std::printf("  capture on / off          p50 x%.2f  p99 x%.2f\n",
                            on.P50 / stats.P50, on.P99 / stats.P99);
                PrintTurnRatios("capture on / off, by turn", tallies[i - 1], tallies[i]);
            }
            std::printf("%s", tallies[i].Report.c_str());
        }
        for (std::size_t i = 0; i < responders.size(); ++i) {
            if (tallies[i].Whole) continue;
            whole = false;
            std::printf("--- the run of the %s was not whole ---\n%s", responders[i].Name.c_str(),
                        Gist(tallies[i].Line.Transcript).c_str());
        }
    }
    // Nothing on the line: what the open port costs while it waits (the
    // window's figure includes its animated logo).
    std::printf("\n== an open port, nothing on the line, 10 s ==\n");
    for (const Responder& r : responders) {
        if (!r.Program.empty() || r.Name.starts_with("  ")) continue;
        const double share = IdleShare(r.Simulator, 10);
        std::printf("%-28s %6.2f %% of a core\n", r.Name.c_str(), share);
    }
    return whole ? 0 : 1;
}

// The stand-in machine as a process: it makes its pseudo-terminal, prints
// the name, runs its script over it and reports one line per exchange. A
// session puts the simulator on the other end: its settings map COM1 to the
// machine's line, it starts, the script runs to its end, and the simulator
// is stopped with SIGTERM, as a desktop would stop it, so that it writes its
// counters file.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/program_process.h"

namespace volmar::testing {

// One exchange as the machine reports it.
struct MachineExchange {
    std::vector<std::uint8_t> Frame;
    std::string Answer;            // "Ack", "Nak", "Esc" or "none"
    std::optional<double> Micros;  // none without an answer
    int Retries = 0;
    std::string Unmet;  // the answer the script expected, when another came
};

// "HH:MM:SS.mmm  <frame hex>  <answer>  <µs or ->  retries=<n>", with
// " expected <answer>" when the script's expectation did not hold; nothing
// for any other line.
inline std::optional<MachineExchange> ParseExchange(const std::string& Line) {
    std::istringstream in(Line);
    std::vector<std::string> t;
    for (std::string w; in >> w;) t.push_back(w);
    if (t.size() < 5 || t[0].size() != 12 || t[0][2] != ':' || t[0][8] != '.') return std::nullopt;
    MachineExchange x;
    if (t.size() >= 7 && t[t.size() - 2] == "expected") {
        x.Unmet = t.back();
        t.resize(t.size() - 2);
    }
    const std::string& retries = t.back();
    if (!retries.starts_with("retries=")) return std::nullopt;
    try {
        x.Retries = std::stoi(retries.substr(8));
        const std::string& us = t[t.size() - 2];
        if (us != "-") x.Micros = std::stod(us);
        x.Answer = t[t.size() - 3];
        for (std::size_t i = 1; i + 3 < t.size(); ++i) {
            if (t[i].size() != 2) return std::nullopt;
            x.Frame.push_back(static_cast<std::uint8_t>(std::stoul(t[i], nullptr, 16)));
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }
    return x;
}

inline std::string AnswerName(std::uint8_t Reply) {
    switch (Reply) {
    case 0x06: return "Ack";
    case 0x15: return "Nak";
    case 0x1B: return "Esc";
    default: return "none";
    }
}

// Reads a child's output lines from a pipe.
class LineReader {
public:
    explicit LineReader(int Fd) : FFd(Fd) {}
    ~LineReader() {
        if (FFd >= 0) ::close(FFd);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next whole line, or nothing at the end of the output or after the
    // timeout.
    std::optional<std::string> Next(int TimeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        for (;;) {
            const auto nl = FPending.find('\n');
            if (nl != std::string::npos) {
                std::string line = FPending.substr(0, nl);
                FPending.erase(0, nl + 1);
                return line;
            }
            if (FEnded) {
                if (FPending.empty()) return std::nullopt;
                return std::exchange(FPending, {});
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return std::nullopt;
            pollfd p{FFd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            char buf[4096];
            const ssize_t n = ::read(FFd, buf, sizeof buf);
            if (n <= 0)
                FEnded = true;
            else
                FPending.append(buf, static_cast<std::size_t>(n));
        }
    }

private:
    int FFd;
    std::string FPending;
    bool FEnded = false;
};

// The machine running one script on a line of its own.
class MachineRun {
public:
    MachineRun() = default;
    ~MachineRun() { KillAndReap(FPid); }
    MachineRun(const MachineRun&) = delete;
    MachineRun& operator=(const MachineRun&) = delete;

    // Writes Script into Folder and starts the machine on it; false, with
    // Problem set, when it made no line.
    bool Start(const fs::path& Machine, const fs::path& Folder, const std::string& Script,
               const std::vector<std::string>& Args) {
        const fs::path script = Folder / "machine.script";
        FErrorFile = Folder / "machine.err";
        std::ofstream(script) << Script;
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) {
            Problem = "pipe failed";
            return false;
        }
        const int err = ::open(FErrorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::vector<std::string> args{"--pty", "--script", script.string()};
        args.insert(args.end(), Args.begin(), Args.end());
        FPid = SpawnProcess(Machine.string(), args, ChildEnvironment({}), out[1], err);
        ::close(out[1]);
        if (err >= 0) ::close(err);
        FReader = std::make_unique<LineReader>(out[0]);
        if (FPid <= 0) {
            Problem = "the machine did not start";
            return false;
        }
        const auto first = FReader->Next(10000);
        if (!first || !first->starts_with("pty: ")) {
            Problem = "the machine printed no pty line: " + first.value_or("(nothing)");
            return false;
        }
        Device = first->substr(5);
        return true;
    }

    // Reads its output until it has reported Count exchanges; false if it
    // did not within the timeout, or ended first.
    bool AwaitExchanges(std::size_t Count, int TimeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (Exchanges.size() < Count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !ReadLine(static_cast<int>(left))) return false;
        }
        return true;
    }

    // Asks the machine to stop where it is, as SIGTERM does.
    void Stop() {
        if (FPid > 0) ::kill(FPid, SIGTERM);
    }

    // Reads its output to the end of the script; its exit status, or
    // nothing if it did not finish in time.
    std::optional<int> Finish(int TimeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || !ReadLine(static_cast<int>(left))) break;
        }
        const auto status = WaitForExit(FPid, 5000);
        if (!status) Problem = "the machine did not finish its script";
        return status;
    }

    // The machine's output, for a failure message.
    std::string Transcript() const {
        std::string s = Problem.empty() ? "" : "problem: " + Problem + "\n";
        for (const auto& l : Lines) s += l + "\n";
        const std::string errors = ReadWholeFile(FErrorFile);
        if (!errors.empty()) s += "machine's errors:\n" + errors;
        return s;
    }

    std::string Device;
    std::string Problem;
    std::vector<std::string> Lines;  // after the pty line
    std::vector<MachineExchange> Exchanges;

private:
    bool ReadLine(int TimeoutMs) {
        const auto line = FReader->Next(TimeoutMs);
        if (!line) return false;
        Lines.push_back(*line);
        if (auto x = ParseExchange(*line)) Exchanges.push_back(*x);
        return true;
    }

    pid_t FPid = -1;
    std::unique_ptr<LineReader> FReader;
    fs::path FErrorFile;
};

struct SessionOptions {
    std::vector<std::string> MachineArgs;  // besides --pty and --script
    std::string ExtraSettings;             // appended to the simulator's settings
    int ScriptTimeoutMs = 60000;
};

struct SessionResult {
    bool Started = false;  // the machine made its line and the simulator opened it
    std::optional<int> MachineStatus;
    std::optional<int> ProgramStatus;  // after SIGTERM
    std::vector<MachineExchange> Exchanges;
    std::string Transcript;
    std::string ProgramErrors;
};

// The first lines of a script against the simulator. While it waits for a
// first message the simulator NAKs about once a second, and a message sent
// just as one of them goes out would take it for its answer. A lone header
// byte, given up on and NAKed after the silence whatever the timing, ends
// that waiting instead; the pause lets a NAK that crossed it arrive, to be
// dropped before the next message.
inline constexpr const char* kSettleLines =
    "# settle the line: a lone header byte, NAKed after the silence\n"
    "pause 500\nraw 1C wait=4000 -> Nak\npause 1000\n";
inline constexpr std::uint8_t kSettleByte = 0x1C;

// After its last exchange the machine keeps the line up until the simulator
// has stopped, and is then stopped itself: whichever end closes first, the
// other sees its line go away.
inline constexpr const char* kHoldLines =
    "# hold the line while the simulator stops\npause 60000\n";

// Runs Script on the machine against the simulator in Folder, started with
// ProgramArgs. Once the machine has reported Exchanges exchanges the
// simulator is stopped with SIGTERM, then the machine.
inline SessionResult RunSession(const fs::path& Machine, const ProgramFolder& Folder,
                                const std::string& Script, std::size_t Exchanges,
                                const SessionOptions& Options = {},
                                const std::vector<std::string>& ProgramArgs = {},
                                const std::vector<std::string>& Environment = {}) {
    SessionResult r;
    MachineRun machine;
    pid_t program = -1;
    int keeper = -1;
    if (machine.Start(Machine, Folder.Dir, Script + kHoldLines, Options.MachineArgs)) {
        Folder.WriteSettings(machine.Device, Options.ExtraSettings);
        program = Folder.Launch(Environment, ProgramArgs);
        if (program > 0 && WaitUntilHeldOpen(program, machine.Device, 15000)) {
            r.Started = true;
            // Held open here, never read: the machine's end stays up when the
            // simulator closes its own.
            keeper = ::open(machine.Device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (!machine.AwaitExchanges(Exchanges, Options.ScriptTimeoutMs))
                machine.Problem = "fewer exchanges than the script has";
            if (::kill(program, SIGTERM) == 0) r.ProgramStatus = WaitForExit(program, 15000);
            machine.Stop();
            r.MachineStatus = machine.Finish(15000);
        } else {
            machine.Problem = "the simulator did not open " + machine.Device;
        }
    }
    KillAndReap(program);
    if (keeper >= 0) ::close(keeper);
    r.Exchanges = machine.Exchanges;
    r.Transcript = machine.Transcript();
    r.ProgramErrors = Folder.Errors();
    return r;
}

} // namespace volmar::testing

// One headless copy as its own process, on a folder of its own beside the
// program and a stand-in machine's line, and what its answers are checked by.
#pragma once

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e/headless_client.h"
#include "interpret/counters.h"
#include "support/machine_session.h"
#include "support/program_process.h"

namespace volmar::testing {

inline constexpr int kRetryLimit = 2;

inline QJsonValue Field(const QJsonObject& Object, const char* Key) {
    return Object.value(QLatin1String(Key));
}
inline std::string Text(const QJsonObject& Object, const char* Key) {
    return Field(Object, Key).toString().toStdString();
}

// One headless copy on a folder of its own (Name, beside the program), its
// port on the line of a machine that runs a script.
class HeadlessCopy {
public:
    HeadlessCopy(const ProgramFolder& Program, const std::string& Name)
        : Dir(Program.Dir / Name), Control(Dir / "control"), FProgram(Program) {
        fs::create_directory(Dir);
    }
    ~HeadlessCopy() {
        KillAndReap(Pid);
        if (FKeeper >= 0) ::close(FKeeper);
    }

    bool Start(const std::string& Script) {
        if (!Machine.Start(VOLMAR_MACHINE_PATH, Dir, Script + kHoldLines, MachineArgs()))
            return false;
        const std::string device = Link.empty() ? Machine.Device : Link.string();
        std::vector<std::string> args{"--headless", "--folder", Dir.string(), "--port", "1",
                                      "--device",   device,     "--speed",    "9600",   "--control",
                                      Control.string()};
        args.insert(args.end(), Extra.begin(), Extra.end());
        std::vector<std::string> env = kNoDisplay;
        env.insert(env.end(), Env.begin(), Env.end());
        Pid = StdoutFd >= 0 || StderrFd >= 0
                  ? FProgram.Spawn(env, args, StdoutFd, StderrFd)
                  : FProgram.Launch(env, args, Dir / "events.jsonl");
        if (Pid <= 0 || !WaitUntilHeldOpen(Pid, Machine.Device, 15000)) {
            Machine.Problem = "the program did not open " + Machine.Device;
            return false;
        }
        // Held open, never read: the machine's end stays up when the program closes its own.
        FKeeper = ::open(Machine.Device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        return true;
    }

    // Ends the program as a desktop would, then the machine; the program's status.
    std::optional<int> Terminate() {
        std::optional<int> status;
        if (::kill(Pid, SIGTERM) == 0) status = WaitForExit(Pid, 15000);
        Machine.Stop();
        MachineStatus = Machine.Finish(15000);
        return status;
    }

    std::vector<std::string> Output() const {
        std::istringstream in(ReadWholeFile(Dir / "events.jsonl"));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    // The machine's arguments; with a Link, it makes that link to its line.
    std::vector<std::string> MachineArgs() const {
        std::vector<std::string> args{"--retries", std::to_string(kRetryLimit), "--reply-timeout",
                                      "3000"};
        if (!Link.empty()) args.push_back("--pty=" + Link.string());
        return args;
    }

    const fs::path Dir;
    const fs::path Control;
    // Set before Start: more arguments for the program, its standard output
    // and error output (-1: events.jsonl and program.err), and a link to the
    // machine's line for the program to open instead of the line itself.
    std::vector<std::string> Extra;
    // More NAME=value entries for its environment.
    std::vector<std::string> Env;
    int StdoutFd = -1;
    int StderrFd = -1;
    fs::path Link;
    MachineRun Machine;
    pid_t Pid = -1;
    std::optional<int> MachineStatus;

private:
    const ProgramFolder& FProgram;
    int FKeeper = -1;
};

inline void ExpectTotals(const QJsonObject& Reply, const TCounters& Expected) {
    ASSERT_TRUE(Field(Reply, "ok").toBool()) << QJsonDocument(Reply).toJson().toStdString();
    const QJsonObject got = Field(Reply, "totals").toObject();
    const std::pair<const char*, std::int32_t> want[] = {
        {"in", Expected.In},           {"out", Expected.Out},
        {"games", Expected.Games},     {"stakes", Expected.Stakes},
        {"wins", Expected.Wins},       {"cashbox", Expected.Cashbox},
        {"refills", Expected.Refills}, {"dumps", Expected.Dumps},
        {"cancelled-credits", Expected.CancelledCredits},
        {"credits-taken", Expected.CreditsTaken}};
    for (const auto& [name, value] : want)
        EXPECT_EQ(Field(got, name).toInteger(-1), value) << name;
}

} // namespace volmar::testing

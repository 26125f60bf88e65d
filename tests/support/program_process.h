// Runs built programs as processes of their own: the simulator copied into a
// private folder (it keeps its settings and counters beside itself), started
// offscreen with a runtime folder of its own so that its single-instance
// lock never meets a copy from another test.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "interpret/counters.h"

extern char** environ;

namespace volmar::testing {

namespace fs = std::filesystem;

// A pseudo-terminal for the program to open by its name; this test holds
// the raw master. Returns the slave's path, empty when none could be made.
inline std::string OpenRawPty(int& Master, int& Slave) {
    char name[256] = {};
    if (::openpty(&Master, &Slave, name, nullptr, nullptr) != 0) return {};
    termios raw{};
    ::tcgetattr(Master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(Master, TCSANOW, &raw);
    return name;
}

// A raw pseudo-terminal for the simulator to open by its slave's name, the
// test playing the machine on the master.
class RawLine {
public:
    RawLine() { Device = OpenRawPty(Master, Slave); }
    ~RawLine() {
        if (Master >= 0) ::close(Master);
        if (Slave >= 0) ::close(Slave);
    }
    RawLine(const RawLine&) = delete;
    RawLine& operator=(const RawLine&) = delete;

    // The next byte from the simulator, or -1 after the timeout.
    int ReadByte(int TimeoutMs) const {
        pollfd p{Master, POLLIN, 0};
        if (::poll(&p, 1, TimeoutMs) <= 0) return -1;
        std::uint8_t b = 0;
        return ::read(Master, &b, 1) == 1 ? b : -1;
    }

    // The answer to a frame, passing over the NAKs the simulator sends while
    // it waits for a first message; -1 when none comes.
    int Exchange(const std::vector<std::uint8_t>& Frame) const {
        if (::write(Master, Frame.data(), Frame.size()) != static_cast<ssize_t>(Frame.size()))
            return -1;
        for (;;) {
            const int b = ReadByte(3000);
            if (b != 0x15) return b;
        }
    }

    std::string Device;  // empty when no pseudo-terminal could be made
    int Master = -1;
    int Slave = -1;
};

// This process's environment with the given entries replaced or added.
inline std::vector<std::string> ChildEnvironment(const std::vector<std::string>& Overrides) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry(*e);
        bool replaced = false;
        for (const auto& o : Overrides)
            if (entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    // A later override of the same name wins.
    for (std::size_t i = 0; i < Overrides.size(); ++i) {
        const std::string name = Overrides[i].substr(0, Overrides[i].find('=') + 1);
        bool later = false;
        for (std::size_t j = i + 1; j < Overrides.size(); ++j) later |= Overrides[j].starts_with(name);
        if (!later) env.push_back(Overrides[i]);
    }
    return env;
}

// Starts Program with Args; its standard output goes to StdoutFd and its
// error output to StderrFd where they are given. Returns the pid, or -1.
inline pid_t SpawnProcess(const std::string& Program, const std::vector<std::string>& Args,
                          const std::vector<std::string>& Env, int StdoutFd = -1,
                          int StderrFd = -1) {
    std::vector<std::string> argStore{Program};
    argStore.insert(argStore.end(), Args.begin(), Args.end());
    std::vector<char*> argv;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = Env;
    std::vector<char*> envp;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (StdoutFd >= 0) ::posix_spawn_file_actions_adddup2(&actions, StdoutFd, STDOUT_FILENO);
    if (StderrFd >= 0) ::posix_spawn_file_actions_adddup2(&actions, StderrFd, STDERR_FILENO);
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, Program.c_str(), &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for the process to end and forgets it (Pid becomes -1); its exit
// status, or nothing when it was killed by a signal or is still running
// after the timeout.
inline std::optional<int> WaitForExit(pid_t& Pid, int TimeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (Pid > 0) {
        int status = 0;
        if (::waitpid(Pid, &status, WNOHANG) == Pid) {
            Pid = -1;
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return std::nullopt;
        }
        if (std::chrono::steady_clock::now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

// Ends a process that is still running, for clean-up after a failure.
inline void KillAndReap(pid_t& Pid) {
    if (Pid <= 0) return;
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
    Pid = -1;
}

inline std::string ReadWholeFile(const fs::path& File) {
    std::ifstream in(File, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The bytes the counters file holds for a record.
inline std::string CountersBytes(const TCounters& Counters) {
    return std::string(reinterpret_cast<const char*>(&Counters), sizeof Counters);
}

// A record read back from the file's bytes; nothing unless it is whole.
inline std::optional<TCounters> CountersFromBytes(const std::string& Bytes) {
    if (Bytes.size() != sizeof(TCounters)) return std::nullopt;
    TCounters c{};
    std::memcpy(&c, Bytes.data(), sizeof c);
    return c;
}

// A private folder holding a copy of the simulator, removed with the object.
class ProgramFolder {
public:
    explicit ProgramFolder(const fs::path& Program, const char* Prefix = "volmarprog") {
        std::string pattern =
            (fs::temp_directory_path() / (std::string(Prefix) + "XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        Dir = pattern;
        Runtime = Dir / "runtime";
        fs::create_directory(Runtime);
        fs::permissions(Runtime, fs::perms::owner_all, fs::perm_options::replace);
        fs::copy_file(Program, Dir / Program.filename());
        ProgramPath = Dir / Program.filename();
    }
    ~ProgramFolder() {
        std::error_code ec;
        fs::remove_all(Dir, ec);
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;

    // Settings that put COM1 on Device at 9600 baud; Extra is appended as is.
    void WriteSettings(const std::string& Device, const std::string& Extra = {}) const {
        std::ofstream(Dir / "VolmarSim.Ini") << "[Devices]\nCOM1=" << Device
                                             << "\n[Comms]\nPort=1\n[Dataport]\nSpeed Mode=2\n"
                                             << Extra;
    }

    // Starts the copy offscreen (or as Overrides say) with Args, its error
    // output appended to program.err in the folder and its standard output
    // written to Output when one is given; the pid, or -1. Shell, when
    // given, is run by /bin/sh first in the process that becomes the
    // program (e.g. "cd DIR; ulimit -n 40").
    pid_t Launch(const std::vector<std::string>& Overrides = {},
                 const std::vector<std::string>& Args = {}, const fs::path& Output = {},
                 const std::string& Shell = {}) const {
        const int out = Output.empty()
                            ? -1
                            : ::open(Output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = Spawn(Overrides, Args, out, -1, Shell);
        if (out >= 0) ::close(out);
        return pid;
    }

    // As Launch, its standard output and error output the descriptors given
    // (-1: this process's standard output, and program.err).
    pid_t Spawn(const std::vector<std::string>& Overrides, const std::vector<std::string>& Args,
                int StdoutFd, int StderrFd = -1, const std::string& Shell = {}) const {
        const int err = StderrFd >= 0 ? -1
                                      : ::open((Dir / "program.err").c_str(),
                                               O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                        "XDG_RUNTIME_DIR=" + Runtime.string()};
        env.insert(env.end(), Overrides.begin(), Overrides.end());
        const int errFd = StderrFd >= 0 ? StderrFd : err;
        std::vector<std::string> shellArgs{"-c", "set -e\n" + Shell + "\nexec \"$0\" \"$@\"",
                                           ProgramPath.string()};
        shellArgs.insert(shellArgs.end(), Args.begin(), Args.end());
        const pid_t pid =
            Shell.empty()
                ? SpawnProcess(ProgramPath.string(), Args, ChildEnvironment(env), StdoutFd, errFd)
                : SpawnProcess("/bin/sh", shellArgs, ChildEnvironment(env), StdoutFd, errFd);
        if (err >= 0) ::close(err);
        return pid;
    }

    std::string Counters() const { return ReadWholeFile(Dir / "COUNTERS.DAT"); }
    std::string Settings() const { return ReadWholeFile(Dir / "VolmarSim.Ini"); }
    std::string Errors() const { return ReadWholeFile(Dir / "program.err"); }

    fs::path Dir;
    fs::path Runtime;
    fs::path ProgramPath;
};

// True once the process holds Device open, seen through /proc; false when
// it has not done so within the timeout or has ended.
inline bool WaitUntilHeldOpen(pid_t Pid, const fs::path& Device, int TimeoutMs) {
    std::error_code ec;
    const fs::path target = fs::canonical(Device, ec);
    const fs::path fds = fs::path("/proc") / std::to_string(Pid) / "fd";
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        if (::kill(Pid, 0) != 0) return false;
        for (const auto& entry : fs::directory_iterator(fds, ec)) {
            std::error_code linkEc;
            if (fs::read_symlink(entry.path(), linkEc) == target) return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace volmar::testing

// The built program itself, in a folder of its own, answering a machine on
// a pseudo-terminal, then stopped with SIGTERM: its counters file must hold
// exactly what the machine reported.
#include <gtest/gtest.h>

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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "interpret/counters.h"

extern char** environ;

namespace volmar {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "volmarprocXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        runtime = dir / "runtime";
        fs::create_directory(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        fs::copy_file(VOLMARSIM_PATH, dir / "volmarsim");

        int slave = -1;
        char name[256] = {};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
        termios raw{};
        ::tcgetattr(master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master, TCSANOW, &raw);
        // The program opens the line by its name; this end stays open.
        slaveFd = slave;
        std::ofstream(dir / "VolmarSim.Ini") << "[Devices]\nCOM1=" << name
                                            << "\n[Comms]\nPort=1\n[Dataport]\nSpeed Mode=2\n";
    }

    void TearDown() override {
        for (pid_t pid : {first, second})
            if (pid > 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        if (master >= 0) ::close(master);
        if (slaveFd >= 0) ::close(slaveFd);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    pid_t Launch() {
        const std::string program = (dir / "volmarsim").string();
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string entry(*e);
            if (!entry.starts_with("QT_QPA_PLATFORM=") && !entry.starts_with("XDG_RUNTIME_DIR="))
                env.push_back(entry);
        }
        env.push_back("QT_QPA_PLATFORM=offscreen");
        env.push_back("XDG_RUNTIME_DIR=" + runtime.string());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string arg0 = program;
        char* argv[] = {arg0.data(), nullptr};
        pid_t pid = -1;
        EXPECT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);
        return pid;
    }

    // The next byte from the program, or -1 after the timeout.
    int ReadByte(int TimeoutMs) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, TimeoutMs) <= 0) return -1;
        std::uint8_t b = 0;
        return ::read(master, &b, 1) == 1 ? b : -1;
    }

    // The answer to a message, passing over the NAKs the program sends
    // while it waits for the machine's first message.
    int Exchange(const Bytes& Frame) {
        EXPECT_EQ(::write(master, Frame.data(), Frame.size()), static_cast<ssize_t>(Frame.size()));
        for (;;) {
            const int b = ReadByte(3000);
            if (b != kNak) return b;
        }
    }

    // Waits for the process to end; its exit status, or -1.
    int WaitExit(pid_t& Pid, int TimeoutMs) {
        const auto end = Clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (Clock::now() < end) {
            int status = 0;
            if (::waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    std::string Counters() const {
        std::ifstream in(dir / "COUNTERS.DAT", std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    fs::path dir;
    fs::path runtime;
    int master = -1;
    int slaveFd = -1;
    pid_t first = -1;
    pid_t second = -1;
};

TEST_F(ProgramTest, AnswersTheMachineAndKeepsItsCountsOnTerm) {
    first = Launch();
    // Waiting for a first message, the program NAKs about once a second.
    ASSERT_EQ(ReadByte(15000), kNak) << "the program opened COM1 and runs its receiver";

    EXPECT_EQ(Exchange({0x26, 0x26}), kAck) << "100Ft In";
    EXPECT_EQ(Exchange({0x69, 0x00, 0x0A, 0x73}), kAck) << "Game with a stake of 10";

    // A second copy raises the first and ends without touching the files.
    second = Launch();
    EXPECT_EQ(WaitExit(second, 10000), 0);
    EXPECT_FALSE(fs::exists(dir / "COUNTERS.DAT"));
    EXPECT_EQ(Exchange({0x26, 0x26}), kAck) << "the first copy still answers";

    ASSERT_EQ(::kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitExit(first, 10000), 0);

    TCounters expected{};
    expected.Codes[0x26].Messages = 2;
    expected.Codes[0x69].Messages = 1;
    expected.In = 200;
    expected.Games = 1;
    expected.Stakes = 10;
    const std::string bytes(reinterpret_cast<const char*>(&expected), sizeof expected);
    EXPECT_EQ(Counters(), bytes);

    std::ifstream ini(dir / "VolmarSim.Ini");
    std::ostringstream text;
    text << ini.rdbuf();
    EXPECT_NE(text.str().find("Port=1\n"), std::string::npos);
    EXPECT_NE(text.str().find("[Devices]\nCOM1="), std::string::npos);
}

} // namespace
} // namespace volmar

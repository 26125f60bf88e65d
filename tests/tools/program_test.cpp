// The program itself: its command line, its exit statuses, the pty line it
// prints first, its link, and how it ends.
#include "tools/far_end.h"
#include "tools/machine_options.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace volmar::machine {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FarEnd;
using Clock = std::chrono::steady_clock;

// The program with its output on pipes.
class Program {
  public:
    explicit Program(const std::vector<std::string>& Args) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> argv{VOLMAR_MACHINE_PATH};
        argv.insert(argv.end(), Args.begin(), Args.end());
        std::vector<char*> ptrs;
        for (auto& a : argv)
            ptrs.push_back(a.data());
        ptrs.push_back(nullptr);
        if (::posix_spawn(&FPid, VOLMAR_MACHINE_PATH, &actions, nullptr, ptrs.data(), environ) != 0)
            FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        FOut = out[0];
        FErr = err[0];
    }
    ~Program() {
        if (FPid > 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, nullptr, 0);
        }
        ::close(FOut);
        ::close(FErr);
    }

    // The next line on standard output, or nothing at its end or after 20 s.
    std::optional<std::string> Line() {
        const auto end = Clock::now() + std::chrono::seconds(20);
        for (;;) {
            if (const auto nl = FPending.find('\n'); nl != std::string::npos) {
                std::string line = FPending.substr(0, nl);
                FPending.erase(0, nl + 1);
                return line;
            }
            if (Clock::now() > end || !ReadSome(FOut, FPending)) return std::nullopt;
        }
    }
    // Waits for the exit; its status, with the rest of both outputs kept.
    int Exit() {
        while (ReadSome(FOut, FPending)) {
        }
        while (ReadSome(FErr, Errors)) {
        }
        int status = 0;
        ::waitpid(FPid, &status, 0);
        FPid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int Sig) { ::kill(FPid, Sig); }
    std::string Rest() const { return FPending; }
    std::string Errors;

  private:
    static bool ReadSome(int Fd, std::string& To) {
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, 20000) <= 0) return false;
        char buf[4096];
        const ssize_t n = ::read(Fd, buf, sizeof buf);
        if (n <= 0) return false;
        To.append(buf, static_cast<std::size_t>(n));
        return true;
    }
    pid_t FPid = -1;
    int FOut = -1, FErr = -1;
    std::string FPending;
};

struct ProgramTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "machineprogXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string Script(const std::string& Text) {
        const fs::path p = dir / "machine.script";
        std::ofstream(p) << Text;
        return p.string();
    }
    // Opens the machine's line as the simulator would, raw.
    static int OpenFarEnd(const std::string& Path) {
        const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        return fd;
    }
};

TEST(CommandLine, OptionsAndTheirDefaults) {
    const TOptions d = ParseCommandLine({"--pty", "--demo"});
    EXPECT_TRUE(d.Pty);
    EXPECT_TRUE(d.Link.empty());
    EXPECT_EQ(d.Baud, 9600);
    EXPECT_EQ(d.ReplyTimeoutMs, 250);
    EXPECT_EQ(d.Retries, 3);
    const TOptions o =
        ParseCommandLine({"--pty", "/tmp/line", "--baud", "1200", "--reply-timeout=40", "--retries",
                          "0", "--script", "s.txt"});
    EXPECT_EQ(o.Link, "/tmp/line");
    EXPECT_EQ(o.Baud, 1200);
    EXPECT_EQ(o.ReplyTimeoutMs, 40);
    EXPECT_EQ(o.Retries, 0);
    EXPECT_EQ(o.ScriptFile, "s.txt");
    EXPECT_EQ(ParseCommandLine({"--device", "/dev/ttyUSB0", "--demo"}).Device, "/dev/ttyUSB0");
    EXPECT_TRUE(ParseCommandLine({"--help"}).Help);

    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"--demo"},
                                                {"--pty", "--device", "x", "--demo"},
                                                {"--pty"},
                                                {"--pty", "--demo", "--script", "s"},
                                                {"--pty", "--demo", "--baud", "2400"},
                                                {"--pty", "--demo", "--retries", "-1"},
                                                {"--pty", "--demo", "--reply-timeout", "0"},
                                                {"--pty", "--demo", "--reply-timeout"},
                                                {"--pty", "--demo", "--colour"}})
        EXPECT_THROW(ParseCommandLine(bad), EUsage) << ::testing::PrintToString(bad);
}

TEST_F(ProgramTest, HelpDocumentsTheLineAndTheScript) {
    Program p({"--help"});
    std::string text;
    while (auto l = p.Line())
        text += *l + "\n";
    EXPECT_EQ(p.Exit(), 0);
    for (const char* part :
         {"--device PATH", "--pty [LINK]", "--reply-timeout", "--retries", "--demo",
          "send <message>", "raw <hex", "wait=MS", "pause <ms>", "rts on", "retry", "noretry",
          "manufacturer=", "Example:", "Exit status"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
}

TEST_F(ProgramTest, UsageAndScriptMistakesExitWith2BeforeAnythingHappens) {
    Program usage({"--pty", "--baud", "300", "--demo"});
    EXPECT_EQ(usage.Exit(), 2);
    EXPECT_NE(usage.Errors.find("--baud"), std::string::npos) << usage.Errors;

    const fs::path link = dir / "line";
    Program bad({"--pty", link.string(), "--script", Script("send 26h\n\n# ok\nsend 69h 70000\n")});
    EXPECT_EQ(bad.Exit(), 2);
    EXPECT_EQ(bad.Rest(), "") << "no pty line: the script is checked first";
    EXPECT_NE(bad.Errors.find((dir / "machine.script").string() + ":4: "), std::string::npos)
        << bad.Errors;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    Program missing({"--device", "/dev/no-such-tty", "--script", Script("send 26h\n")});
    EXPECT_EQ(missing.Exit(), 2);
    EXPECT_NE(missing.Errors.find("/dev/no-such-tty"), std::string::npos) << missing.Errors;

    std::ofstream(dir / "plain") << "x";
    Program occupied({"--pty", (dir / "plain").string(), "--demo"});
    EXPECT_EQ(occupied.Exit(), 2);
    EXPECT_NE(occupied.Errors.find("not a symlink"), std::string::npos) << occupied.Errors;
}

TEST_F(ProgramTest, ScriptOnItsPtyReportsEachExchangeAndAnUnmetExpectation) {
    const fs::path link = dir / "line";
    Program p({"--pty", link.string(), "--reply-timeout", "1000", "--script",
               Script("send \"100Ft In\" -> Ack\nsend 6Ah bytes 00 01 -> Ack\nsend 26h -> Ack\n")});
    const auto first = p.Line();
    ASSERT_TRUE(first && first->starts_with("pty: /dev/pts/")) << first.value_or("(nothing)");
    const std::string slave = first->substr(5);
    EXPECT_EQ(fs::read_symlink(link), slave);

    FarEnd far(
        OpenFarEnd(link),
        [](const Bytes& Frame, int) -> std::optional<std::uint8_t> {
            return (Frame[0] & 0x7F) == 0x6A ? 0x1B : 0x06;
        },
        true);
    std::vector<std::string> lines;
    while (auto l = p.Line())
        lines.push_back(*l);
    EXPECT_EQ(p.Exit(), 1) << p.Errors;
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("  26 26  Ack  "), std::string::npos) << lines[0];
    EXPECT_TRUE(lines[1].ends_with(" expected Ack")) << lines[1];
    EXPECT_NE(lines[1].find("  6A 00 01 6B  Esc  "), std::string::npos) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("retries=0")) << lines[2];
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link goes at exit";
}

TEST_F(ProgramTest, TerminatedWhileWaitingForTheSimulatorItTidiesUp) {
    const fs::path link = dir / "line";
    Program p({"--pty", link.string(), "--demo"});
    const auto first = p.Line();
    ASSERT_TRUE(first && first->starts_with("pty: "));
    ASSERT_TRUE(fs::is_symlink(link));
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Exit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(ProgramTest, TheDemoEndsWhenTheSimulatorClosesTheLine) {
    Program p({"--pty", "--demo"});
    const auto first = p.Line();
    ASSERT_TRUE(first && first->starts_with("pty: "));
    auto far = std::make_unique<FarEnd>(
        OpenFarEnd(first->substr(5)),
        [](const Bytes&, int) { return std::optional<std::uint8_t>(0x06); }, true);
    const auto powerOn = p.Line();
    ASSERT_TRUE(powerOn.has_value());
    EXPECT_NE(powerOn->find("  70 14 56 4C 4D "), std::string::npos) << *powerOn;
    EXPECT_NE(powerOn->find("  Ack  "), std::string::npos) << *powerOn;
    far.reset();
    EXPECT_EQ(p.Exit(), 0) << p.Errors;
}

} // namespace
} // namespace volmar::machine

// The program itself: its command line, exit statuses, the pty line it
// prints first, its link, and how it ends.
#include "tools/far_end.h"
#include "tools/machine_options.h"
#include "tools/message_list.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace volmar::machine {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FarEnd;

// The program with its standard output on a pipe and its errors in a file.
class Program {
  public:
    explicit Program(std::vector<std::string> Args) {
        int out[2];
        EXPECT_EQ(::pipe2(out, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, FErrFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        Args.insert(Args.begin(), VOLMAR_MACHINE_PATH);
        std::vector<char*> argv;
        for (auto& a : Args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(
            ::posix_spawn(&FPid, VOLMAR_MACHINE_PATH, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        FOut = out[0];
    }
    ~Program() {
        if (FPid > 0) ::kill(FPid, SIGKILL), ::waitpid(FPid, nullptr, 0);
        ::close(FOut);
        ::unlink(FErrFile.c_str());
    }
    // The next line on standard output; nothing at its end (or after 20 s).
    std::optional<std::string> Line() {
        for (std::size_t nl; (nl = Out.find('\n')) == std::string::npos;)
            if (!ReadSome()) return std::nullopt;
        std::string line = Out.substr(0, Out.find('\n'));
        Out.erase(0, line.size() + 1);
        return line;
    }
    // The exit status, with the rest of the output and the errors read.
    int Exit() {
        while (ReadSome()) {
        }
        int status = 0;
        ::waitpid(std::exchange(FPid, -1), &status, 0);
        std::ifstream err(FErrFile);
        Errors.assign(std::istreambuf_iterator<char>(err), {});
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int Sig) { ::kill(FPid, Sig); }
    std::string Out, Errors;

  private:
    bool ReadSome() {
        pollfd p{FOut, POLLIN, 0};
        char buf[4096];
        const ssize_t n = ::poll(&p, 1, 20000) > 0 ? ::read(FOut, buf, sizeof buf) : 0;
        if (n > 0) Out.append(buf, static_cast<std::size_t>(n));
        return n > 0;
    }
    // One file per program and test process: tests run in parallel.
    std::string FErrFile =
        fs::temp_directory_path() /
        ("machine-err-" + std::to_string(::getpid()) + "-" + std::to_string(++count));
    static inline int count = 0;
    pid_t FPid = -1;
    int FOut = -1;
};

struct ProgramTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "machineprogXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Script(const std::string& Text) {
        std::ofstream(dir / "machine.script") << Text;
        return (dir / "machine.script").string();
    }
    // The machine's line opened as the simulator opens it: raw, odd parity,
    // line errors marked.
    static int OpenFarEnd(const std::string& Path) {
        const int fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        t.c_cflag |= PARENB | PARODD | CLOCAL | CREAD;
        t.c_iflag |= INPCK | PARMRK;
        ::tcsetattr(fd, TCSANOW, &t);
        return fd;
    }
};

TEST(CommandLine, OptionsDefaultsAndRefusals) {
    const TOptions d = ParseCommandLine({"--pty", "--demo"});
    EXPECT_TRUE(d.Pty && d.Link.empty() && d.Demo);
    EXPECT_TRUE(d.Baud == 9600 && d.ReplyTimeoutMs == 1000 && d.Retries == 3);
    EXPECT_EQ(ReplyTimeoutWarning(d.ReplyTimeoutMs), "");
    EXPECT_EQ(ReplyTimeoutWarning(kSimulatorQuietMs), "");
    EXPECT_NE(ReplyTimeoutWarning(kSimulatorQuietMs - 1).find("timeout of 599 ms"),
              std::string::npos);
    const TOptions o = ParseCommandLine(
        {"--pty", "/l", "--baud", "1200", "--reply-timeout=40", "--retries", "0", "--script", "s"});
    EXPECT_TRUE(o.Link == "/l" && o.Baud == 1200 && o.ReplyTimeoutMs == 40 && o.Retries == 0);
    EXPECT_EQ(o.ScriptFile, "s");
    const TOptions r = ParseCommandLine({"--pty", "--replay", "c", "--pace", "x2.5", "--expect",
                                         "--control", "k", "--set-totals-first"});
    EXPECT_TRUE(r.ReplayFile == "c" && r.PaceSpeed == 2.5 && r.Expect && r.Control == "k" &&
                r.SetTotalsFirst);
    EXPECT_EQ(ParseCommandLine({"--pty", "--replay", "c", "--pace", "fast"}).PaceSpeed, 0.0);
    for (const std::vector<std::string>& bad : {std::vector<std::string>{},
                                                {"--pty", "--demo", "--replay", "c"},
                                                {"--pty", "--demo", "--expect"},
                                                {"--pty", "--replay", "c", "--pace", "x0"},
                                                {"--pty", "--replay", "c", "--pace", "2"},
                                                {"--pty", "--replay", "c", "--set-totals-first"},
                                                {"--pty", "--device", "x", "--demo"},
                                                {"--pty"},
                                                {"--pty", "--demo", "--script", "s"},
                                                {"--pty", "--demo", "--baud", "2400"},
                                                {"--pty", "--demo", "--retries", "-1"},
                                                {"--pty", "--demo", "--colour"}})
        EXPECT_THROW(ParseCommandLine(bad), EUsage) << ::testing::PrintToString(bad);
}

TEST_F(ProgramTest, HelpDocumentsTheLineAndTheScript) {
    Program p({"--help"});
    EXPECT_EQ(p.Exit(), 0);
    for (const char* topic : {"--device PATH", "--pty [LINK]", "--reply-timeout", "--retries",
                              "--demo", "send <message>", "raw <hex", "wait=MS", "pause <ms>",
                              "rts on", "noretry", "manufacturer=", "Example:", "Exit status"})
        EXPECT_NE(p.Out.find(topic), std::string::npos) << topic;
}

TEST_F(ProgramTest, ListAndVersionNeedNoLine) {
    Program list({"--list"});
    EXPECT_EQ(list.Exit(), 0);
    EXPECT_EQ(list.Out, MessageListText());
    Program version({"--version"});
    EXPECT_EQ(version.Exit(), 0);
    EXPECT_EQ(version.Out, std::string("volmar-machine ") + VOLMAR_EXPECTED_VERSION + "\n");
}

TEST_F(ProgramTest, MistakesExitWith2BeforeAnythingHappens) {
    Program usage({"--pty", "--baud", "300", "--demo"});
    EXPECT_EQ(usage.Exit(), 2);
    EXPECT_NE(usage.Errors.find("--baud"), std::string::npos) << usage.Errors;

    const fs::path link = dir / "line";
    Program bad({"--pty", link.string(), "--script", Script("send 26h\n\n# ok\nsend 69h 70000\n")});
    EXPECT_EQ(bad.Exit(), 2);
    EXPECT_EQ(bad.Out, "") << "no pty line: the script is checked first";
    EXPECT_NE(bad.Errors.find(Script("") + ":4: "), std::string::npos) << bad.Errors;
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    Program missing({"--device", "/dev/no-such-tty", "--reply-timeout", "250", "--script",
                     Script("send 26h\n")});
    EXPECT_EQ(missing.Exit(), 2);
    EXPECT_NE(missing.Errors.find("/dev/no-such-tty"), std::string::npos) << missing.Errors;
    EXPECT_NE(missing.Errors.find("warning: a reply timeout of 250 ms"), std::string::npos)
        << missing.Errors;

    std::ofstream(dir / "plain") << "x";
    Program occupied({"--pty", (dir / "plain").string(), "--demo"});
    EXPECT_EQ(occupied.Exit(), 2);
    EXPECT_NE(occupied.Errors.find("not a symlink"), std::string::npos) << occupied.Errors;
}

TEST_F(ProgramTest, ScriptOnItsPtyReportsEachExchangeAndAnUnmetExpectation) {
    const fs::path link = dir / "line";
    fs::create_symlink("/nowhere", link); // left over: replaced
    Program p({"--pty", link.string(), "--reply-timeout", "1000", "--script",
               Script("send \"100Ft In\" -> Ack\nsend 6Ah bytes 00 01 -> Ack\nsend 26h -> Ack\n")});
    const auto first = p.Line();
    ASSERT_TRUE(first && first->starts_with("pty: /dev/pts/")) << first.value_or("(nothing)");
    EXPECT_EQ(fs::read_symlink(link), first->substr(5));
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
    EXPECT_NE(lines[1].find("  6A 00 01 6B  Esc  "), std::string::npos) << lines[1];
    EXPECT_TRUE(lines[1].ends_with(" expected Ack")) << lines[1];
    EXPECT_TRUE(lines[2].ends_with("retries=0")) << lines[2];
    EXPECT_FALSE(fs::exists(fs::symlink_status(link))) << "the link goes at exit";
}

TEST_F(ProgramTest, TerminatedWhileWaitingForTheSimulatorItTidiesUp) {
    const fs::path link = dir / "line";
    Program p({"--pty", link.string(), "--demo"});
    ASSERT_TRUE(p.Line().value_or("").starts_with("pty: "));
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
    const std::string powerOn = p.Line().value_or("");
    EXPECT_NE(powerOn.find("  70 14 56 4C 4D "), std::string::npos) << powerOn;
    EXPECT_NE(powerOn.find("  Ack  "), std::string::npos) << powerOn;
    far.reset();
    EXPECT_EQ(p.Exit(), 0) << p.Errors;
}

} // namespace
} // namespace volmar::machine

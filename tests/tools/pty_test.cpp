// The machine's pseudo-terminal: its link, and how it sees the simulator
// come to the other end.
#include "tools/port_line.h"
#include "tools/pseudo_terminal.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace volmar::machine {
namespace {

namespace fs = std::filesystem;

struct PtyTest : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "machineptyXXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

TEST_F(PtyTest, TheLinkPointsAtTheSlaveAndGoesWithTheTerminal) {
    const fs::path link = dir / "line";
    std::string slave;
    {
        TPseudoTerminal pty;
        slave = pty.SlavePath();
        EXPECT_TRUE(slave.starts_with("/dev/pts/")) << slave;
        pty.MakeLink(link);
        EXPECT_EQ(fs::read_symlink(link), slave);
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    fs::create_symlink("/nowhere", link);
    {
        TPseudoTerminal pty;
        pty.MakeLink(link);
        EXPECT_EQ(fs::read_symlink(link), pty.SlavePath()) << "an old symlink is replaced";
        fs::remove(link);
        fs::create_symlink("/elsewhere", link);
    }
    EXPECT_EQ(fs::read_symlink(link), "/elsewhere") << "a link someone else made is left alone";
}

TEST_F(PtyTest, AFileAtTheLinkIsNeverReplaced) {
    const fs::path file = dir / "notes";
    std::ofstream(file) << "keep";
    TPseudoTerminal pty;
    EXPECT_THROW(pty.MakeLink(file), std::runtime_error);
    EXPECT_EQ(fs::file_size(file), 4u);
}

TEST_F(PtyTest, WaitsForTheFarEndToOpenAndNothingEchoes) {
    TPseudoTerminal pty;
    TStopRequest stop;
    const std::uint8_t frame[] = {0x26, 0x26};
    ASSERT_EQ(::write(pty.MasterFd(), frame, 2), 2);
    int far = -1;
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        far = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    });
    EXPECT_TRUE(pty.WaitForFarEnd(stop));
    opener.join();
    ASSERT_GE(far, 0);
    std::uint8_t got[4] = {};
    EXPECT_EQ(::read(far, got, sizeof got), 2) << "the far end reads what was sent before it came";
    EXPECT_EQ(got[0], 0x26);
    pollfd p{pty.MasterFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 100), 0) << "the slave is raw: no echo";
    ::close(far);
}

TEST_F(PtyTest, AStopEndsTheWaitForTheFarEnd) {
    TPseudoTerminal pty;
    TStopRequest stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.Request();
    });
    EXPECT_FALSE(pty.WaitForFarEnd(stop));
    stopper.join();
}

} // namespace
} // namespace volmar::machine

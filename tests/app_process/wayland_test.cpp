// The program as the window on Wayland: a headless weston of its own, a
// machine on a pseudo-terminal. A Wayland client cannot know where its
// window is, so the stored place must come through the run untouched.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

std::string Which(const char* Tool) {
    std::string path;
    if (FILE* pipe = ::popen((std::string("command -v ") + Tool).c_str(), "r")) {
        char buffer[512];
        if (std::fgets(buffer, sizeof buffer, pipe)) path = buffer;
        ::pclose(pipe);
    }
    while (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
}

class Wayland : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string weston = Which("weston");
        if (weston.empty()) GTEST_SKIP() << "needs weston (scripts/setup-deps installs it)";
        ASSERT_FALSE(line.Device.empty());
        // Weston and the program share the folder's private runtime folder.
        const int log = ::open((folder.Dir / "weston.log").c_str(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        compositor = SpawnProcess(weston,
                                  {"--backend=headless-backend.so", "--socket=" + kSocket,
                                   "--idle-time=0", "--width=1024", "--height=768"},
                                  ChildEnvironment({"XDG_RUNTIME_DIR=" + folder.Runtime.string(),
                                                    "WAYLAND_DISPLAY=", "DISPLAY="}),
                                  log, log);
        if (log >= 0) ::close(log);
        ASSERT_GT(compositor, 0);
        const auto socket = folder.Runtime / kSocket;
        for (int i = 0; i < 1000 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(std::filesystem::exists(socket)) << ReadWholeFile(folder.Dir / "weston.log");
    }
    void TearDown() override {
        KillAndReap(program);
        if (compositor > 0) ::kill(compositor, SIGTERM);
        WaitForExit(compositor, 5000);
        KillAndReap(compositor);
    }

    const std::string kSocket = "volmar-wayland-" + std::to_string(::getpid());
    ProgramFolder folder{VOLMARSIM_PATH, "volmarwayland"};
    RawLine line;
    pid_t compositor = -1;
    pid_t program = -1;
};

TEST_F(Wayland, TheWindowAnswersSaysNothingKeepsItsStoredPlaceAndEndsInOrder) {
    folder.WriteSettings(line.Device, "[Window]\nLeft=150\nTop=80\nWidth=709\nHeight=670\n");
    program = folder.Launch({"QT_QPA_PLATFORM=wayland", "WAYLAND_DISPLAY=" + kSocket, "DISPLAY="});
    ASSERT_GT(program, 0);
    ASSERT_EQ(line.ReadByte(15000), 0x15) << "it runs its receiver\n" << folder.Errors();
    EXPECT_EQ(line.Exchange({0x26, 0x26}), 0x06) << "100Ft In";

    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(program, 10000), 0);
    EXPECT_EQ(folder.Errors(), "") << "nothing on standard error";
    const std::string settings = folder.Settings();
    EXPECT_NE(settings.find("Left=150\nTop=80\n"), std::string::npos) << settings;
    EXPECT_NE(settings.find("Width=709\nHeight=670\n"), std::string::npos) << settings;
    TCounters expected{};
    expected.Codes[0x26].Messages = 1;
    expected.In = 100;
    EXPECT_EQ(folder.Counters(), CountersBytes(expected)) << "the counts were saved";
}

} // namespace
} // namespace volmar

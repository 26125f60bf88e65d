// The captions as the window system shows them: the program on an X server
// of its own (Xvfb), its windows' names read back with xdotool.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

// The command's standard output, without its last line break.
std::string Output(const std::string& Command) {
    std::string out;
    if (FILE* pipe = ::popen(Command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        ::pclose(pipe);
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool Installed(const char* Tool) { return !Output(std::string("command -v ") + Tool).empty(); }

class Captions : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Installed("Xvfb") || !Installed("xdotool")) GTEST_SKIP() << "needs Xvfb and xdotool";
        // Appended: GCC 12 at -O3 warns falsely (-Wrestrict) on ":" + a temporary.
        // A server killed earlier leaves its lock behind, and Xvfb will not
        // take that display; its stale socket would pass for ours.
        int number = 100 + ::getpid() % 400;
        while (std::filesystem::exists("/tmp/.X" + std::to_string(number) + "-lock")) ++number;
        display = ":";
        display += std::to_string(number);
        server = SpawnProcess(Output("command -v Xvfb"), {display, "-screen", "0", "1024x768x24"},
                              ChildEnvironment({}));
        ASSERT_GT(server, 0);
        const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
        for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(std::filesystem::exists(socket));
    }
    void TearDown() override {
        KillAndReap(program);
        // Asked to end, the server removes its lock and socket.
        if (server > 0) ::kill(server, SIGTERM);
        WaitForExit(server, 5000);
        KillAndReap(server);
    }

    // The name of the first window whose name starts with Start, once one is up.
    std::string WindowName(const std::string& Start) {
        const std::string x = "DISPLAY=" + display + " xdotool ";
        for (int i = 0; i < 1500; ++i) {
            const std::string id = Output(x + "search --name '^" + Start + "' 2>/dev/null | head -n 1");
            if (!id.empty()) return Output(x + "getwindowname " + id);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return {};
    }
    void Do(const std::string& Actions) { Output("DISPLAY=" + display + " xdotool " + Actions); }

    ProgramFolder folder{VOLMARSIM_PATH, "volmarcaption"};
    std::string display;
    pid_t server = -1;
    pid_t program = -1;
};

TEST_F(Captions, AreExactlyAsDesigned) {
    program = folder.Launch({"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display});
    ASSERT_GT(program, 0);
    EXPECT_EQ(WindowName("Volmar Simulator"), std::string("Volmar Simulator v") + VOLMAR_EXPECTED_VERSION);
    // The meters' menu: a right click on the "In" meter, then its only entry.
    Do("mousemove 80 130 click 3");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Do("mousemove 110 141 click 1");
    EXPECT_EQ(WindowName("Edit Meters"), "Edit Meters");
    ::kill(program, SIGTERM);
    EXPECT_EQ(WaitForExit(program, 10000), 0);
}

} // namespace
} // namespace volmar

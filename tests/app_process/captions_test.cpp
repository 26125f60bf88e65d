// The captions as the window system shows them: the program on an X server
// of its own (Xvfb), its windows' names read back with xdotool.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
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
        Until([&] { return std::filesystem::exists(socket); });
        ASSERT_TRUE(std::filesystem::exists(socket));
    }
    void TearDown() override {
        KillAndReap(program);
        // Asked to end, the server removes its lock and socket.
        if (server > 0) ::kill(server, SIGTERM);
        WaitForExit(server, 5000);
        KillAndReap(server);
    }

    // True once a window is named exactly Name, within a minute: a caption
    // may change after its window first shows, and on a busy machine each
    // look takes a while. Seen: the names that begin with Name's first word,
    // for a failure's message.
    bool WindowNamed(const std::string& Name, std::string& Seen) {
        std::string pattern;
        for (const char c : Name) pattern += c == '.' ? std::string("\\.") : std::string(1, c);
        if (Until([&] { return !Do("search --name '^" + pattern + "$' 2>/dev/null").empty(); }))
            return true;
        Seen = Do("search --name '^" + Name.substr(0, Name.find(' ')) + "' getwindowname %@ 2>/dev/null");
        return false;
    }
    // Asks Done again until it says yes, for at most a minute.
    template <class TDone>
    static bool Until(TDone Done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (!Done()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // The program's windows on the screen (its menus among them).
    int ShownWindows() {
        const std::string ids = Do("search --onlyvisible --pid " + std::to_string(program) + " 2>/dev/null");
        return ids.empty() ? 0 : 1 + static_cast<int>(std::count(ids.begin(), ids.end(), '\n'));
    }
    std::string Do(const std::string& Actions) {
        return Output("DISPLAY=" + display + " xdotool " + Actions);
    }

    ProgramFolder folder{VOLMARSIM_PATH, "volmarcaption"};
    std::string display;
    pid_t server = -1;
    pid_t program = -1;
};

TEST_F(Captions, AreExactlyAsDesigned) {
    program = folder.Launch({"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display});
    ASSERT_GT(program, 0);
    std::string seen;
    ASSERT_TRUE(WindowNamed(std::string("Volmar Simulator v") + VOLMAR_EXPECTED_VERSION, seen))
        << seen;
    // The meters' menu: a right click on the "In" meter, then, once the
    // menu is up, its only entry.
    const int shown = ShownWindows();
    Do("mousemove 80 130 click 3");
    ASSERT_TRUE(Until([&] { return ShownWindows() > shown; })) << "the meters' menu is up";
    Do("mousemove 110 141 click 1");
    EXPECT_TRUE(WindowNamed("Edit Meters", seen)) << seen;
    ::kill(program, SIGTERM);
    EXPECT_EQ(WaitForExit(program, 10000), 0);
}

} // namespace
} // namespace volmar

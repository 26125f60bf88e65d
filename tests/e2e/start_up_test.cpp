// The line as a machine sees it while the simulator waits for its first
// message: read here directly, before any machine talks, since anything the
// machine sends ends the waiting.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "dataport/message.h"
#include "e2e/line_model.h"
#include "interpret/counters.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;
using Clock = std::chrono::steady_clock;

class StartUp : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(line.Device.empty());
        folder.WriteSettings(line.Device);
    }
    void TearDown() override { KillAndReap(program); }

    // The bytes that arrive within Ms, with the time each came; at most
    // Count of them.
    std::vector<std::pair<std::uint8_t, Clock::time_point>> Listen(
        int Ms, std::size_t Count = std::numeric_limits<std::size_t>::max()) {
        std::vector<std::pair<std::uint8_t, Clock::time_point>> got;
        const auto end = Clock::now() + std::chrono::milliseconds(Ms);
        while (got.size() < Count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
            std::uint8_t b = 0;
            if (::read(master, &b, 1) == 1) got.emplace_back(b, Clock::now());
        }
        return got;
    }

    RawLine line;
    const int master = line.Master;
    const std::string device = line.Device;
    ProgramFolder folder{VOLMARSIM_PATH, "volmarstart"};
    pid_t program = -1;
};

TEST_F(StartUp, NaksAboutOnceASecondUntilTheFirstMessage) {
    program = folder.Launch();
    ASSERT_GT(program, 0);
    ASSERT_TRUE(WaitUntilHeldOpen(program, device, 15000));

    const auto naks = Listen(15000, 3);
    ASSERT_EQ(naks.size(), 3u) << "NAKs keep coming while no message arrives";
    for (std::size_t i = 0; i < naks.size(); ++i) {
        EXPECT_EQ(naks[i].first, kNak) << "byte " << i;
        if (i == 0) continue;
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(
                             naks[i].second - naks[i - 1].second)
                             .count();
        // 18 ticks of 55 ms apart: never a flood, never a long silence.
        EXPECT_GE(gap, 500) << "between NAKs " << i << " and " << i + 1;
        EXPECT_LE(gap, 5000) << "between NAKs " << i << " and " << i + 1;
    }

    // Sent at once after a NAK, a second before the next one is due.
    TCounters expected{};
    LineModel model(expected);
    const std::uint8_t answer = model.Deliver(0x26, {});
    const auto frame = BuildMessageFrame(0x26, {});
    ASSERT_EQ(::write(master, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    const auto reply = Listen(5000, 1);
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].first, answer);
    EXPECT_TRUE(Listen(2000).empty()) << "no more NAKs once a message has come";

    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(program, 15000), 0);
    EXPECT_EQ(folder.Counters(), CountersBytes(expected));
}

} // namespace
} // namespace volmar

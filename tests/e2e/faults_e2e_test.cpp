// The built simulator against a machine that misbehaves, on a raw
// pseudo-terminal: one that stops reading its answers for a while, and a
// simulator killed outright in the middle of a busy run.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "interpret/counters.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;
constexpr std::uint8_t kEsc = 0x1B;

class MisbehavingMachine : public ::testing::Test {
protected:
    void SetUp() override {
        device = OpenRawPty(master, slave);
        ASSERT_FALSE(device.empty());
        folder.WriteSettings(device);
        program = folder.Launch();
        ASSERT_GT(program, 0);
        // Waiting for a first message, the simulator NAKs about once a second.
        ASSERT_EQ(ReadByte(15000), kNak);
    }
    void TearDown() override {
        KillAndReap(program);
        ::close(master);
        ::close(slave);
    }

    int ReadByte(int TimeoutMs) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, TimeoutMs) <= 0) return -1;
        std::uint8_t b = 0;
        return ::read(master, &b, 1) == 1 ? b : -1;
    }

    // Reads until the line has been quiet for QuietMs.
    void Drain(int QuietMs) {
        while (ReadByte(QuietMs) >= 0) {
        }
    }

    // The answer to a frame, passing over the NAKs of a simulator that
    // still waits for a first message.
    int Exchange(const Bytes& Frame) {
        if (::write(master, Frame.data(), Frame.size()) != static_cast<ssize_t>(Frame.size())) return -1;
        for (;;) {
            const int b = ReadByte(3000);
            if (b != kNak) return b;
        }
    }

    std::optional<TCounters> SavedCounters() const { return CountersFromBytes(folder.Counters()); }

    ProgramFolder folder{VOLMARSIM_PATH, "volmarfault"};
    std::string device;
    int master = -1;
    int slave = -1;
    pid_t program = -1;
};

TEST_F(MisbehavingMachine, StopsReadingForTwentySecondsThenGetsItsAnswers) {
    // Sync requests at twice the pace 9600 baud allows (a pseudo-terminal
    // has no speed), in bursts the receive buffer takes whole; none of the
    // answers is read, so they soon find no room on the line.
    std::int64_t sent = 0;
    const Bytes burst(32, 0x05);
    const auto end = Clock::now() + std::chrono::seconds(20);
    for (auto next = Clock::now(); next < end; next += std::chrono::milliseconds(16)) {
        std::this_thread::sleep_until(next);
        ASSERT_EQ(::write(master, burst.data(), burst.size()), static_cast<ssize_t>(burst.size()));
        sent += static_cast<std::int64_t>(burst.size());
    }
    Drain(2000);
    ASSERT_EQ(::kill(program, 0), 0) << "the simulator is still running";
    EXPECT_EQ(Exchange({0x01}), kEsc) << "a fresh answer, not one left over";
    EXPECT_EQ(Exchange({0x26, 0x26}), kAck);

    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(program, 15000), 0);
    const auto saved = SavedCounters();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->Codes[0x05].Messages, sent) << "every message counted, answered or not";
    EXPECT_EQ(saved->In, 100);
}

TEST_F(MisbehavingMachine, KilledInABusyRunItsFileMissesOnlyTheLastSeconds) {
    // Coins in lock-step for five seconds, each time the answer came noted.
    std::vector<Clock::time_point> acked;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end) {
        ASSERT_EQ(Exchange({0x26, 0x26}), kAck);
        acked.push_back(Clock::now());
    }
    const auto killedAt = Clock::now();
    ASSERT_EQ(::kill(program, SIGKILL), 0);
    WaitForExit(program, 10000);

    const auto saved = SavedCounters();
    ASSERT_TRUE(saved) << "a whole record, never a torn one";
    const std::int64_t counted = saved->Codes[0x26].Messages;
    EXPECT_EQ(saved->In, 100 * counted) << "counts and totals from one moment";
    EXPECT_LE(counted, static_cast<std::int64_t>(acked.size()));
    const auto longAgo = killedAt - std::chrono::seconds(3);
    const auto before = std::count_if(acked.begin(), acked.end(),
                                      [&](Clock::time_point t) { return t < longAgo; });
    EXPECT_GE(counted, before) << "no more than the last seconds are missing";
}

} // namespace
} // namespace volmar

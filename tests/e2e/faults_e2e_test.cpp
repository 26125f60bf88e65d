// The built simulator against a machine that misbehaves, on a raw
// pseudo-terminal: one that stops reading its answers for a while, and a
// simulator killed outright in the middle of a busy run.
#include <gtest/gtest.h>

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
        ASSERT_FALSE(line.Device.empty());
        folder.WriteSettings(line.Device);
        program = folder.Launch();
        ASSERT_GT(program, 0);
        // Waiting for a first message, the simulator NAKs about once a second.
        ASSERT_EQ(line.ReadByte(15000), kNak);
    }
    void TearDown() override { KillAndReap(program); }

    std::optional<TCounters> SavedCounters() const { return CountersFromBytes(folder.Counters()); }

    RawLine line;
    ProgramFolder folder{VOLMARSIM_PATH, "volmarfault"};
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
        ASSERT_EQ(::write(line.Master, burst.data(), burst.size()),
                  static_cast<ssize_t>(burst.size()));
        sent += static_cast<std::int64_t>(burst.size());
    }
    while (line.ReadByte(2000) >= 0) {
    }
    ASSERT_EQ(::kill(program, 0), 0) << "the simulator is still running";
    EXPECT_EQ(line.Exchange({0x01}), kEsc) << "a fresh answer, not one left over";
    EXPECT_EQ(line.Exchange({0x26, 0x26}), kAck);

    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(program, 15000), 0);
    const auto saved = SavedCounters();
    ASSERT_TRUE(saved);
    // A loaded machine may fall behind this pace; a coin is never lost.
    EXPECT_GT(saved->Codes[0x05].Messages, 0);
    EXPECT_LE(saved->Codes[0x05].Messages, sent);
    EXPECT_EQ(saved->Codes[0x26].Messages, 1);
    EXPECT_EQ(saved->In, 100);
}

TEST_F(MisbehavingMachine, TwoHundredCoinsInOneWriteAreAllAnsweredAndCounted) {
    const Bytes coins(400, 0x20);
    ASSERT_EQ(::write(line.Master, coins.data(), coins.size()), 400);
    int acks = 0;
    for (int b; acks < 200 && (b = line.ReadByte(5000)) >= 0;) acks += b == kAck ? 1 : 0;
    EXPECT_EQ(acks, 200);
    ASSERT_EQ(::kill(program, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(program, 15000), 0);
    const auto saved = SavedCounters();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->Codes[0x20].Messages, 200);
    EXPECT_EQ(saved->In, 200);
}

TEST_F(MisbehavingMachine, KilledInABusyRunItsFileMissesOnlyTheLastSeconds) {
    // Coins in lock-step for five seconds, each time the answer came noted.
    std::vector<Clock::time_point> acked;
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < end) {
        ASSERT_EQ(line.Exchange({0x26, 0x26}), kAck);
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

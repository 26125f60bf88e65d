// The demo session, played into the simulator's own receiver and decoders:
// every message accepted, a plausible order, and the money adding up.
#include "dataport/message.h"
#include "tools/machine_demo.h"
#include "tools/simulator_side.h"

#include <gtest/gtest.h>
#include <set>

namespace volmar::machine {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kDoors = kServiceDoor | kCashDoor | kPayoutDoor;

bool In(std::uint8_t Code, std::uint8_t First) {
    return Code >= First && Code < First + 12;
}

TEST(Demo, PowersOnThenPlaysASessionTheSimulatorAcceptsAndTheMoneyAddsUp) {
    for (std::uint32_t seed : {1u, 77u, 2024u}) {
        TDemoSession demo(seed);
        testing::SimulatorSide sim;
        std::set<std::string> seen;
        bool called = false;
        std::uint16_t switches = kPayoutUnit;
        for (int n = 0; n < 4000 || demo.Planned() > 0; ++n) {
            const TDemoMessage m = demo.Next();
            ASSERT_TRUE(m.DelayMs >= kDemoMinDelayMs && m.DelayMs <= kDemoMaxDelayMs);
            ASSERT_EQ(sim.Feed(BuildMessageFrame(m.Header, m.Data)), Bytes{kAck})
                << "seed " << seed << " message " << n << ": " << DPMessageNames[m.Header & 0x7F];
            const std::uint8_t code = m.Header;
            if (n == 0) {
                ASSERT_EQ(code, kPowerOn);
            }
            if (code == kCallAttendant || code == kAttendantArrived) {
                ASSERT_EQ(called, code == kAttendantArrived) << "a call, then its arrival";
                called = code == kCallAttendant;
                seen.insert(called ? "call" : "arrived");
            } else if (code == kSwitchStates) {
                switches = static_cast<std::uint16_t>(m.Data[0] << 8 | m.Data[1]);
                if (switches & kDoors) seen.insert("door open");
                if (switches & (kRefillKey | kBookkeepingKey)) seen.insert("key on");
            } else if (In(code, kCoinInFirst) || code == kGame) {
                ASSERT_EQ(switches & kDoors, 0) << "nobody plays with a door open";
                seen.insert(code == kGame ? "game" : "coin in");
            } else if (In(code, kRefillFirst)) {
                ASSERT_TRUE(switches & kRefillMode);
                seen.insert("refill");
            } else if (In(code, kDumpFirst)) {
                ASSERT_TRUE(switches & kDumpMode);
                seen.insert("dump");
            } else if (In(code, kToCashboxFirst)) {
                seen.insert("cashbox");
            } else if (In(code, kCoinOutFirst)) {
                seen.insert("coin out");
            } else if (code == kWinReport) {
                seen.insert("win");
            } else if (code == kTakeOneCredit || code == kTakeMultipleCredits) {
                seen.insert("credits");
            }
        }
        EXPECT_EQ(seen.size(), 12u) << "seed " << seed;
        EXPECT_EQ(sim.View.Calls.front(), "ManufCode=VLM");
        const TCounters& c = sim.Counters;
        const std::int64_t credit = demo.Identity().CreditValue;
        EXPECT_EQ(c.Stakes, c.CreditsTaken * credit) << "every stake is paid with credits taken";
        EXPECT_EQ(std::int64_t{c.In} + c.Wins - c.Stakes - c.Out - c.CancelledCredits * credit,
                  demo.CreditFt());
        EXPECT_GE(demo.CreditFt(), 0);
    }
}

} // namespace
} // namespace volmar::machine

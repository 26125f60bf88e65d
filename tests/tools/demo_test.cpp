// The demo session, played into the simulator's own receiver and decoders:
// every message accepted, a plausible order, and the money adding up.
#include "dataport/message.h"
#include "tools/machine_demo.h"
#include "tools/simulator_side.h"

#include <gtest/gtest.h>
#include <set>
#include <sstream>

namespace volmar::machine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::SimulatorSide;

constexpr std::uint16_t kDoors = kServiceDoor | kCashDoor | kPayoutDoor;

bool In(std::uint8_t Code, std::uint8_t First) {
    return Code >= First && Code < First + 12;
}

TEST(Demo, PowersOnThenPlaysASessionTheSimulatorAcceptsAndTheMoneyAddsUp) {
    for (std::uint32_t seed : {1u, 77u, 2024u}) {
        TDemoSession demo(seed);
        SimulatorSide sim;
        const TDemoMessage first = demo.Next();
        ASSERT_EQ(first.Header, kPowerOn);
        ASSERT_EQ(sim.Feed(BuildMessageFrame(first.Header, first.Data)), Bytes{kAck});
        EXPECT_EQ(sim.View.Calls.front(), "ManufCode=VLM");

        std::set<std::string> seen;
        bool called = false;
        std::uint16_t switches = kPayoutUnit;
        for (int n = 0; n < 4000 || demo.Planned() > 0; ++n) {
            const TDemoMessage m = demo.Next();
            ASSERT_GE(m.DelayMs, kDemoMinDelayMs);
            ASSERT_LE(m.DelayMs, kDemoMaxDelayMs);
            ASSERT_EQ(m.Header & 0x80, 0);
            ASSERT_EQ(sim.Feed(BuildMessageFrame(m.Header, m.Data)), Bytes{kAck})
                << "seed " << seed << " message " << n << ": " << DPMessageNames[m.Header];
            const std::uint8_t code = m.Header;
            if (code == kCallAttendant) {
                ASSERT_FALSE(called) << "called again before arriving";
                called = true;
                seen.insert("call");
            } else if (code == kAttendantArrived) {
                ASSERT_TRUE(called) << "arrived uncalled";
                called = false;
                seen.insert("arrived");
            } else if (code == kSwitchStates) {
                switches = static_cast<std::uint16_t>(m.Data[0] << 8 | m.Data[1]);
                if (switches & kDoors) seen.insert("door open");
                if (switches & (kRefillKey | kBookkeepingKey)) seen.insert("key on");
            } else if (In(code, kCoinInFirst) || code == kGame) {
                ASSERT_EQ(switches & kDoors, 0) << "nobody plays with a door open";
                seen.insert(code == kGame ? "game" : "coin in");
            } else if (In(code, kToCashboxFirst)) {
                seen.insert("cashbox");
            } else if (In(code, kRefillFirst)) {
                ASSERT_TRUE(switches & kRefillMode) << "refills only in refill mode";
                seen.insert("refill");
            } else if (In(code, kCoinOutFirst)) {
                seen.insert("coin out");
            } else if (In(code, kDumpFirst)) {
                ASSERT_TRUE(switches & kDumpMode);
                seen.insert("dump");
            } else if (code == kWinReport) {
                seen.insert("win");
            } else if (code == kTakeOneCredit || code == kTakeMultipleCredits) {
                seen.insert("credits");
            }
        }
        EXPECT_EQ(seen, (std::set<std::string>{"arrived", "call", "cashbox", "coin in", "coin out",
                                               "credits", "door open", "dump", "game", "key on",
                                               "refill", "win"}))
            << "seed " << seed;

        const TCounters& c = sim.Counters;
        const std::int64_t credit = demo.Identity().CreditValue;
        EXPECT_EQ(c.Stakes, c.CreditsTaken * credit) << "every stake is paid with credits taken";
        EXPECT_EQ(std::int64_t{c.In} + c.Wins - c.Stakes - c.Out - c.CancelledCredits * credit,
                  demo.CreditFt());
        EXPECT_GE(demo.CreditFt(), 0);
    }
}

TEST(Demo, TheSeedFixesTheSession) {
    TDemoSession a(5), b(5), c(6);
    bool differs = false;
    for (int n = 0; n < 200; ++n) {
        const TDemoMessage x = a.Next(), y = b.Next(), z = c.Next();
        ASSERT_EQ(x.Header, y.Header);
        ASSERT_EQ(x.Data, y.Data);
        ASSERT_EQ(x.DelayMs, y.DelayMs);
        differs = differs || x.Header != z.Header || x.DelayMs != z.DelayMs;
    }
    EXPECT_TRUE(differs);
}

// A line that ACKs everything and asks to stop at its Nth pause.
class AckingLine : public IMachineLine {
  public:
    explicit AckingLine(int StopAtIdle) : FStopAt(StopAtIdle) {}
    void Send(const std::vector<std::uint8_t>& Bytes) override { Sent.push_back(Bytes); }
    std::optional<std::uint8_t> WaitByte(int) override { return kAck; }
    void DiscardInput() override {}
    void Idle(int Ms) override {
        if (++FIdles == FStopAt) throw EStopRequested();
        IdleMs.push_back(Ms);
    }
    void SetRTS(bool) override {}
    std::vector<Bytes> Sent;
    std::vector<int> IdleMs;

  private:
    int FStopAt;
    int FIdles = 0;
};

TEST(Demo, RunsAtItsOwnPaceUntilAskedToStop) {
    AckingLine line(6);
    TExchanger ex(line, {250, 3});
    TDemoSession demo(9), twin(9);
    std::ostringstream out;
    RunDemo(demo, ex, line, out);
    ASSERT_EQ(line.Sent.size(), 5u);
    std::istringstream lines(out.str());
    std::string text;
    for (std::size_t i = 0; i < 5; ++i) {
        const TDemoMessage m = twin.Next();
        EXPECT_EQ(line.IdleMs[i], m.DelayMs) << "the pause comes before its message";
        EXPECT_EQ(line.Sent[i], BuildMessageFrame(m.Header, m.Data));
        ASSERT_TRUE(std::getline(lines, text));
        EXPECT_NE(text.find("  " + HexBytes(line.Sent[i].data(), line.Sent[i].size()) + "  Ack  "),
                  std::string::npos)
            << text;
    }
    EXPECT_FALSE(std::getline(lines, text));
}

} // namespace
} // namespace volmar::machine

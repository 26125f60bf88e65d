// The exchanges over a real line: the machine's port on the master of a
// pseudo-terminal, as with --pty, and a test thread answering on the slave.
#include "tools/far_end.h"
#include "tools/machine_exchange.h"
#include "tools/port_line.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sstream>
namespace volmar::machine {
namespace {

using testing::Bytes;
using testing::FarEnd;
using testing::PtyPair;
using testing::Replies;

constexpr std::uint8_t kAckByte = 0x06, kNakByte = 0x15, kEscByte = 0x1B;

struct ExchangeTest : ::testing::Test {
    PtyPair pty;
    TMachinePort port;
    TStopRequest stop;
    std::unique_ptr<TPortLine> line;
    std::unique_ptr<FarEnd> far;

    void Open(FarEnd::Policy Policy) {
        port.SetAutoOpen(false);
        SetMachineLine(port, 9600, true);
        port.SetDevicePath(pty.SlavePath);
        port.AdoptOnOpen(PtyPair::Take(pty.Master));
        port.SetOpen(true);
        line = std::make_unique<TPortLine>(port, stop);
        far = std::make_unique<FarEnd>(pty.Slave, std::move(Policy));
    }
    void TearDown() override {
        if (far) far->Stop();
        line.reset();
        port.SetOpen(false);
    }
    // What the far end has seen once it has Count frames (or after 2 s).
    std::vector<Bytes> FramesSeen(std::size_t Count) {
        for (int i = 0; i < 4000 && far->Frames().size() < Count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return far->Frames();
    }
};

TEST_F(ExchangeTest, NakIsAnsweredByResendsWithBit7UntilAck) {
    Open(Replies({kNakByte, kNakByte, kAckByte}));
    const TExchange x = TExchanger(*line, {250, 3}).Send(0x69, {0x00, 0x0A});
    EXPECT_EQ(x.Answer.Kind, TReply::Ack);
    EXPECT_EQ(x.Retries, 2);
    EXPECT_TRUE(x.LatencyUs.has_value());
    EXPECT_EQ(x.Frame, (Bytes{0x69, 0x00, 0x0A, 0x73})) << "reported as first sent";
    EXPECT_EQ(FramesSeen(3),
              (std::vector<Bytes>{
                  {0x69, 0x00, 0x0A, 0x73}, {0xE9, 0x00, 0x0A, 0xF3}, {0xE9, 0x00, 0x0A, 0xF3}}));
}

TEST_F(ExchangeTest, SilenceIsResentUpToTheLimitThenNone) {
    Open(Replies({}));
    const TExchange x = TExchanger(*line, {60, 2}).Send(0x26, {});
    EXPECT_EQ(x.Answer.Kind, TReply::None);
    EXPECT_FALSE(x.LatencyUs.has_value());
    EXPECT_EQ(x.Retries, 2);
    EXPECT_EQ(FramesSeen(3), (std::vector<Bytes>{{0x26, 0x26}, {0xA6, 0xA6}, {0xA6, 0xA6}}));
}

TEST_F(ExchangeTest, EscStrangeBytesAndNoretryEndTheExchangeAtOnce) {
    Open(Replies({kEscByte, 0x3F, kNakByte}));
    TExchanger ex(*line, {250, 3});
    EXPECT_EQ(ex.Send(0x6A, {1, 2}).Answer.Kind, TReply::Esc);
    EXPECT_EQ(AnswerText(ex.Send(0x05, {}).Answer), "3Fh");
    const TExchange noretry = ex.Send(0xA6, {}, false);
    EXPECT_EQ(noretry.Answer.Kind, TReply::Nak);
    EXPECT_EQ(noretry.Retries, 0);
    EXPECT_EQ(FramesSeen(3), (std::vector<Bytes>{{0x6A, 1, 2, 0x6D}, {0x05}, {0xA6, 0xA6}}));
}

TEST_F(ExchangeTest, BytesNobodyAskedForAreNotTakenAsTheAnswer) {
    Open(Replies({kAckByte}));
    far->Write({kNakByte, kNakByte}); // the simulator NAKs while it waits for a first message
    for (int i = 0; i < 4000 && port.InBuffUsed() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(port.InBuffUsed(), 2);
    const TExchange x = TExchanger(*line, {250, 3}).Send(0x26, {});
    EXPECT_EQ(x.Answer.Kind, TReply::Ack);
    EXPECT_EQ(x.Retries, 0);
}

TEST_F(ExchangeTest, RawTakesOnlyTheAnswerAfterItsLastByte) {
    // The NAK to the first byte comes during the pause; the ACK to the
    // second answers the line.
    Open(Replies({kNakByte, kAckByte}));
    TExchanger ex(*line, {250, 3});
    const TExchange x = ex.Raw({{0, {0x05}}, {300, {0x05}}}, std::nullopt);
    EXPECT_EQ(x.Answer.Kind, TReply::Ack);
    EXPECT_EQ(x.Frame, (Bytes{0x05, 0x05}));
    EXPECT_EQ(ex.Raw({{0, {0x69}}}, 50).Retries, 0) << "raw is never resent";
}

TEST_F(ExchangeTest, ScriptPrintsOneLinePerExchangeAndFailsOnAnUnmetExpectation) {
    Open([](const Bytes& Frame, int) -> std::optional<std::uint8_t> {
        return (Frame[0] & 0x7F) == 0x6A ? kEscByte : kAckByte;
    });
    TExchanger ex(*line, {250, 3});
    std::ostringstream out;
    const char* script =
        "send 26h -> Ack\nsend 6Ah bytes 00 01 -> Ack\npause 10\nrts off\nraw 05\n";
    EXPECT_EQ(RunScript(ParseScript(script, "s"), ex, *line, out), 1);
    const std::regex lines(
        "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  26 26  Ack  \\d+  retries=0\n"
        "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  6A 00 01 6B  Esc  \\d+  retries=0 expected Ack\n"
        "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  05  Ack  \\d+  retries=0\n");
    EXPECT_TRUE(std::regex_match(out.str(), lines)) << out.str();
    EXPECT_EQ(RunScript(ParseScript("send 6Ah bytes 00 01 -> esc\nsend 26h -> ACK\n", "s"), ex,
                        *line, out),
              0);
}

// Asks for the stop from another thread once the script is in its pause.
struct StopInPause : IMachineLine {
    IMachineLine& Line;
    TStopRequest& Stop;
    std::thread Stopper;
    StopInPause(IMachineLine& L, TStopRequest& S) : Line(L), Stop(S) {}
    ~StopInPause() override { Stopper.join(); }
    void Send(const Bytes& B) override { Line.Send(B); }
    std::optional<std::uint8_t> WaitByte(int Ms) override { return Line.WaitByte(Ms); }
    void DiscardInput() override { Line.DiscardInput(); }
    void SetRTS(bool On) override { Line.SetRTS(On); }
    void Idle(int Ms) override {
        Stopper = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            Stop.Request();
        });
        Line.Idle(Ms);
    }
};

TEST_F(ExchangeTest, AStopEndsAWaitAndTheScriptKeepsItsStatus) {
    Open(Replies({kAckByte}));
    std::ostringstream out;
    {
        StopInPause stopping(*line, stop);
        TExchanger ex(stopping, {250, 3});
        const TScript script = ParseScript("send 26h -> Nak\npause 60000\nsend 26h\n", "s");
        EXPECT_EQ(RunScript(script, ex, stopping, out), 1);
    }
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_THROW(line->WaitByte(60000), EStopRequested);
}

} // namespace
} // namespace volmar::machine

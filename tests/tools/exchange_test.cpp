// The exchanges over a real line: the machine's port on the master of a
// pseudo-terminal, as in --pty, and a test thread answering on the slave.
#include "serial/com_port.h"
#include "tools/far_end.h"
#include "tools/machine_exchange.h"
#include "tools/port_line.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <regex>
#include <sstream>
#include <stdlib.h>
#include <time.h>

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
        ASSERT_FALSE(pty.SlavePath.empty());
        port.SetAutoOpen(false);
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
    // The far end has seen Count frames (they may still be on their way).
    std::vector<Bytes> FramesSeen(std::size_t Count) {
        for (int i = 0; i < 400 && far->Frames().size() < Count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return far->Frames();
    }
};

TEST_F(ExchangeTest, NakIsAnsweredByResendsWithBit7UntilAck) {
    Open(Replies({kNakByte, kNakByte, kAckByte}));
    TExchanger ex(*line, {250, 3});
    const TExchange x = ex.Send(0x69, {0x00, 0x0A});
    EXPECT_EQ(x.Answer.Kind, TReply::Ack);
    EXPECT_EQ(x.Retries, 2);
    EXPECT_TRUE(x.LatencyUs.has_value());
    EXPECT_EQ(x.Frame, (Bytes{0x69, 0x00, 0x0A, 0x73})) << "the line shows the frame as first sent";
    EXPECT_EQ(FramesSeen(3),
              (std::vector<Bytes>{
                  {0x69, 0x00, 0x0A, 0x73}, {0xE9, 0x00, 0x0A, 0xF3}, {0xE9, 0x00, 0x0A, 0xF3}}));
}

TEST_F(ExchangeTest, SilenceIsResentUpToTheLimitThenNone) {
    Open(Replies({}));
    TExchanger ex(*line, {60, 2});
    const TExchange x = ex.Send(0x26, {});
    EXPECT_EQ(x.Answer.Kind, TReply::None);
    EXPECT_FALSE(x.LatencyUs.has_value());
    EXPECT_EQ(x.Retries, 2);
    EXPECT_EQ(FramesSeen(3), (std::vector<Bytes>{{0x26, 0x26}, {0xA6, 0xA6}, {0xA6, 0xA6}}));

    TExchanger once(*line, {60, 0});
    EXPECT_EQ(once.Send(0x0A, {}).Retries, 0) << "a limit of 0 sends once";
    EXPECT_EQ(FramesSeen(4).size(), 4u);
}

TEST_F(ExchangeTest, EscAckAndStrangeBytesEndTheExchangeAtOnce) {
    Open(Replies({kEscByte, kAckByte, 0x3F, kNakByte}));
    TExchanger ex(*line, {250, 3});
    EXPECT_EQ(ex.Send(0x6A, {1, 2}).Answer.Kind, TReply::Esc);
    EXPECT_EQ(ex.Send(0x05, {}).Answer.Kind, TReply::Ack);
    const TExchange odd = ex.Send(0x26, {});
    EXPECT_EQ(AnswerText(odd.Answer), "3Fh");
    EXPECT_EQ(odd.Retries, 0);
    const TExchange noretry = ex.Send(0xA6, {}, false);
    EXPECT_EQ(noretry.Answer.Kind, TReply::Nak) << "noretry takes the NAK as final";
    EXPECT_EQ(noretry.Retries, 0);
    EXPECT_EQ(FramesSeen(4),
              (std::vector<Bytes>{{0x6A, 1, 2, 0x6D}, {0x05}, {0x26, 0x26}, {0xA6, 0xA6}}));
}

TEST_F(ExchangeTest, BytesNobodyAskedForAreNotTakenAsTheAnswer) {
    Open(Replies({kAckByte}));
    far->Write({kNakByte, kNakByte}); // as the simulator NAKs while it waits for a first message
    for (int i = 0; i < 400 && port.InBuffUsed() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(port.InBuffUsed(), 2);
    TExchanger ex(*line, {250, 3});
    const TExchange x = ex.Send(0x26, {});
    EXPECT_EQ(x.Answer.Kind, TReply::Ack);
    EXPECT_EQ(x.Retries, 0);
}

TEST_F(ExchangeTest, RawSendsItsSegmentsAndTakesOnlyTheAnswerAfterTheLast) {
    // The far end NAKs the first byte at once, during the pause; only the
    // ACK after the second byte answers the line.
    Open(Replies({kNakByte, kAckByte}));
    TExchanger ex(*line, {250, 3});
    const TExchange x = ex.Raw({{0, {0x05}}, {300, {0x05}}}, std::nullopt);
    EXPECT_EQ(x.Answer.Kind, TReply::Ack);
    EXPECT_EQ(x.Frame, (Bytes{0x05, 0x05}));
    EXPECT_EQ(x.Retries, 0);
    EXPECT_EQ(FramesSeen(2).size(), 2u);

    const TExchange silent = ex.Raw({{0, {0x69, 0x00}}}, 50);
    EXPECT_EQ(silent.Answer.Kind, TReply::None) << "raw is never resent";
    EXPECT_EQ(silent.Retries, 0);
}

TEST_F(ExchangeTest, ScriptPrintsOneLinePerExchangeAndFailsOnAnUnmetExpectation) {
    Open([](const Bytes& Frame, int) -> std::optional<std::uint8_t> {
        return (Frame[0] & 0x7F) == 0x6A ? kEscByte : kAckByte;
    });
    TExchanger ex(*line, {250, 3});
    std::ostringstream out;
    const TScript script = ParseScript("send 26h -> Ack\n"
                                       "send 6Ah bytes 00 01 -> Ack\n"
                                       "pause 10\n"
                                       "rts off\n"
                                       "raw 05\n",
                                       "s");
    EXPECT_EQ(RunScript(script, ex, *line, out), 1);
    const std::string text = out.str();
    const std::regex lines(
        "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  26 26  Ack  \\d+  retries=0\n"
        "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  6A 00 01 6B  Esc  \\d+  retries=0 expected Ack\n"
        "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  05  Ack  \\d+  retries=0\n");
    EXPECT_TRUE(std::regex_match(text, lines)) << text;

    std::ostringstream good;
    EXPECT_EQ(RunScript(ParseScript("send 6Ah bytes 00 01 -> esc\nsend 26h -> ACK\n", "s"), ex,
                        *line, good),
              0);
}

TEST_F(ExchangeTest, AStopEndsAWaitAndTheScriptKeepsItsStatus) {
    Open(Replies({kAckByte}));
    TExchanger ex(*line, {250, 3});
    std::thread stopper([this] {
        while (far->Frames().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.Request();
    });
    std::ostringstream out;
    const int status =
        RunScript(ParseScript("send 26h -> Nak\npause 60000\nsend 26h\n", "s"), ex, *line, out);
    stopper.join();
    EXPECT_EQ(status, 1);
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_THROW(line->Idle(60000), EStopRequested);
}

TEST_F(ExchangeTest, TheFarEndClosingIsALineGone) {
    Open(Replies({}));
    far->Stop();
    ::close(PtyPair::Take(pty.Slave));
    try {
        line->WaitByte(60000);
        ADD_FAILURE() << "no line gone";
    } catch (const ELineGone& e) {
        EXPECT_NE(std::string(e.what()).find(pty.SlavePath), std::string::npos) << e.what();
    }
}

TEST(DeviceLine, ASerialDeviceByPathAndItsLoss) {
    PtyPair pty;
    TMachinePort port;
    port.SetAutoOpen(false);
    port.SetDevicePath(pty.SlavePath);
    ::close(PtyPair::Take(pty.Slave));
    port.SetOpen(true);
    TStopRequest stop;
    TPortLine line(port, stop);
    FarEnd far(pty.Master, Replies({kAckByte}));
    TExchanger ex(line, {250, 3});
    EXPECT_EQ(ex.Send(0x1E, {}).Answer.Kind, TReply::Ack);
    far.Stop();
    ::close(PtyPair::Take(pty.Master));
    EXPECT_THROW(line.Idle(60000), ELineGone);
    port.SetOpen(false);
}

TEST(ExchangeLine, FieldsAreTwoBlanksApart) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    TExchange x;
    x.Frame = {0x69, 0x00, 0x0A, 0x73};
    x.Answer = AnswerOf(0x06);
    x.LatencyUs = 1234;
    x.Retries = 2;
    x.Started =
        TWallClock::time_point(std::chrono::seconds(1704070923) + std::chrono::milliseconds(45));
    EXPECT_EQ(FormatExchangeLine(x), "01:02:03.045  69 00 0A 73  Ack  1234  retries=2");
    x.Answer = {};
    x.LatencyUs.reset();
    EXPECT_EQ(FormatExchangeLine(x, TReply::Ack),
              "01:02:03.045  69 00 0A 73  none  -  retries=2 expected Ack");
    x.Answer = AnswerOf(0x15);
    EXPECT_EQ(FormatExchangeLine(x, TReply::None),
              "01:02:03.045  69 00 0A 73  Nak  -  retries=2 expected none");
    x.Answer = AnswerOf(0x1B);
    EXPECT_EQ(AnswerText(x.Answer), "Esc");
}

} // namespace
} // namespace volmar::machine

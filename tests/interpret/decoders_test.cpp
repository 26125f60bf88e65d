#include <gtest/gtest.h>

#include "interpret/interpreter.h"
#include "support/message_builder.h"
#include "support/recording_view.h"

namespace volmar {
namespace {

using testing::MessageBuilder;
using testing::RecordingView;
using Calls = std::vector<std::string>;

struct DecodersTest : ::testing::Test {
    TCounters counters{};
    TLogs logs{{[] { return 0u; }, [] { return std::string("t"); }}};
    RecordingView view;
    TInterpreter interp{counters, logs, view};
    MessageBuilder builder;

    TAcception Send(std::uint8_t header, const std::vector<std::uint8_t>& data = {}) {
        return interp.InterpretMessage(&builder.Make(header, data), false);
    }
    std::string LoggedText() const {
        return logs.Events.Cell(1, logs.Events.RowCount() - 1);
    }
};

TEST_F(DecodersTest, CoinMovementsByDenomination) {
    Send(0x20);
    EXPECT_EQ(counters.In, 1);
    Send(0x5B);
    EXPECT_EQ(counters.Dumps, 5000);
    Send(0x33);
    EXPECT_EQ(counters.Cashbox, 200);
    Send(0x38);
    EXPECT_EQ(counters.Refills, 1);
    Send(0x4F);
    EXPECT_EQ(counters.Out, 5000);
    EXPECT_EQ(view.Refreshes, (std::vector<int>{1, 8, 6, 7, 2}));
    EXPECT_EQ(LoggedText(), "5000Ft Out") << "no decoded text for coins";
}

TEST_F(DecodersTest, CreditsAndAttendant) {
    Send(0x0A);
    Send(0x62, {3});
    EXPECT_EQ(counters.CreditsTaken, 4);
    EXPECT_EQ(LoggedText(), "(3 off) Take Multiple Credits");
    Send(0x62, {255});
    EXPECT_EQ(counters.CreditsTaken, 259);
    EXPECT_EQ(view.Refreshes, (std::vector<int>{10, 10, 10}));
    Send(0x1E);
    Send(0x1F);
    EXPECT_EQ(view.Calls, (Calls{"Attendant=on", "Attendant=off"}));
}

TEST_F(DecodersTest, GameWinAndCreditValue) {
    Send(0x69, {0x01, 0xF4});
    EXPECT_EQ(counters.Games, 1);
    EXPECT_EQ(counters.Stakes, 500);
    EXPECT_EQ(LoggedText(), "500 Game");
    EXPECT_EQ(view.Refreshes, (std::vector<int>{3, 4}));

    Send(0x6C, {0x00, 0x00});
    EXPECT_EQ(counters.Wins, 0);
    EXPECT_EQ(view.Refreshes.back(), 5) << "a zero win still refreshes";
    EXPECT_EQ(LoggedText(), "0Ft Win Report");
    Send(0x6C, {0xFF, 0xFF});
    EXPECT_EQ(counters.Wins, 65535);

    Send(0x6B, {0x00, 0x14});
    EXPECT_EQ(view.Calls.back(), "CreditValue=20Ft");
    EXPECT_EQ(LoggedText(), "(20Ft) Value of One Credit Report");
}

TEST_F(DecodersTest, SwitchWord) {
    Send(0x6E, {0x00, 0x70});
    EXPECT_EQ(view.Calls, (Calls{"Switches=112"}));
    EXPECT_EQ(LoggedText(), "0070h Door/Switch States Report");
    Send(0x6E, {0x0F, 0x83});
    EXPECT_EQ(view.Calls.back(), "Switches=3971");
    EXPECT_EQ(LoggedText(), "0F83h Door/Switch States Report");
}

TEST_F(DecodersTest, FourByteValuesInBothModes) {
    Send(0x74, {0x00, 0x00, 0x01, 0x00});
    EXPECT_EQ(counters.CancelledCredits, 100);
    EXPECT_EQ(LoggedText(), "(100 off) Cancelled Credits Report");
    EXPECT_EQ(view.Refreshes.back(), 9);

    const std::uint8_t bcd[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(interp.DecodeValue32(bcd), 12345678);
    const std::uint8_t nibbles[] = {0x00, 0x00, 0x00, 0x0F};
    EXPECT_EQ(interp.DecodeValue32(nibbles), 15) << "nibbles above 9 are not errors";
    const std::uint8_t most[] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(interp.DecodeValue32(most), 166666665);

    interp.SetValuesMode(false);
    EXPECT_EQ(view.Calls.back(), "Values=Binary");
    Send(0x74, {0x00, 0x00, 0x01, 0x00});
    EXPECT_EQ(counters.CancelledCredits, 356);
    EXPECT_EQ(interp.DecodeValue32(bcd), 0x12345678);
}

TEST_F(DecodersTest, NegativePlainAmountIsAnInvalidValue) {
    interp.SetValuesMode(false);
    EXPECT_EQ(Send(0x74, {0x80, 0x00, 0x00, 0x01}), acRejected);
    EXPECT_EQ(counters.CancelledCredits, 0);
    EXPECT_EQ(LoggedText(), "(invalid value) Cancelled Credits Report");
    EXPECT_EQ(Send(0x77, {0, 0xFF, 0xFF, 0xFF, 0xFF}), acRejected);
    EXPECT_EQ(counters.In, 0);
    EXPECT_EQ(LoggedText(), "(invalid value) Send Data");
    EXPECT_EQ(counters.Codes[0x77].Messages, 1) << "still counted";
}

TEST_F(DecodersTest, SendDataTypes) {
    EXPECT_EQ(Send(0x77, {2, 0, 0, 0, 5}), acAccepted);
    EXPECT_EQ(counters.Stakes, 5);
    EXPECT_EQ(counters.Games, 1);
    EXPECT_EQ(view.Refreshes, (std::vector<int>{4, 3}));
    EXPECT_EQ(LoggedText(), "(5 off Stakes) Send Data");
    Send(0x77, {0, 0, 0, 0x10, 0x00});
    EXPECT_EQ(counters.In, 1000);
    EXPECT_EQ(LoggedText(), "(1000 off Cash In) Send Data");
    Send(0x77, {1, 0, 0, 0, 0x20});
    EXPECT_EQ(counters.Out, 20);
    Send(0x77, {3, 0, 0, 0, 0x99});
    EXPECT_EQ(counters.Wins, 99);
    EXPECT_EQ(LoggedText(), "(99 off Wins) Send Data");

    view.Refreshes.clear();
    EXPECT_EQ(Send(0x77, {4, 0, 0, 0, 7}), acRejected);
    EXPECT_EQ(LoggedText(), "(7 off unknown data type) Send Data");
    EXPECT_TRUE(view.Refreshes.empty());
    EXPECT_EQ(counters.Codes[0x77].Messages, 5);
}

TEST_F(DecodersTest, ShortMessagesReadMissingBytesAsZero) {
    EXPECT_EQ(Send(0x77, {0}), acAccepted);
    EXPECT_EQ(LoggedText(), "(0 off Cash In) Send Data");
    EXPECT_EQ(Send(0x74, {1}), acAccepted);
    EXPECT_EQ(counters.CancelledCredits, 1000000);
}

TEST_F(DecodersTest, PowerOnWithTwentyBytes) {
    interp.SetValuesMode(true);
    view.Calls.clear();
    Send(0x70, {'N', 'O', 'V', 9, 9, 9, 9, '1', '.', '2', 0x00, 0x55, 0xA5, 0x00, 0x0A, 92,
                0x00, 0x70, 'B', 1});
    EXPECT_EQ(view.Calls, (Calls{"ManufCode=NOV", "Version=1.2", "AMC=85", "Dataport=165",
                                 "CreditValue=10Ft", "TargPercent=92%", "Switches=112",
                                 "ProtoVer=\"B\" (42h)", "Values=Binary"}));
    EXPECT_EQ(LoggedText(), "(A=0055h O=A5h S=0070h) Power on");
    EXPECT_FALSE(interp.BCDValues());
    Send(0x74, {0, 0, 1, 0});
    EXPECT_EQ(counters.CancelledCredits, 256) << "the mode applies to later messages";
}

TEST_F(DecodersTest, PowerOnWithTenBytes) {
    interp.SetValuesMode(false);
    view.Calls.clear();
    Send(0x70, {'A', 'B', 'C', 0, 0, 0, 0, 'V', '0', '1'});
    EXPECT_EQ(view.Calls, (Calls{"ManufCode=ABC", "Version=V01", "AMC=0", "Dataport=0",
                                 "CreditValue=0Ft", "TargPercent=0%", "Switches=0",
                                 "ProtoVer=\"\" ( 0h)", "Values=BCD"}));
    EXPECT_TRUE(interp.BCDValues());
}

TEST_F(DecodersTest, TotalsWrapAsSigned32Bit) {
    counters.Stakes = 2147483647 - 100;
    Send(0x69, {0x01, 0xF4});
    EXPECT_EQ(counters.Stakes, -2147483648 + 399);
    counters.Codes[0x26].Messages = 2147483647;
    Send(0x26);
    EXPECT_EQ(counters.Codes[0x26].Messages, -2147483647 - 1);
    EXPECT_EQ(logs.Messages.Cell(2, 0x27), "-2147483648");
}

} // namespace
} // namespace volmar

#include "interpret/logs.h"

#include <gtest/gtest.h>

#include "interpret/interpreter.h"
#include "support/message_builder.h"
#include "support/recording_view.h"

namespace volmar {
namespace {

using testing::MessageBuilder;
using testing::RecordingView;

struct LogsTest : ::testing::Test {
    std::uint32_t tick = 1000;
    int clockCalls = 0;
    TCounters counters{};
    TLogs logs{{[this] { return tick; },
                [this] { return "10:00:" + std::to_string(clockCalls++); }}};
    RecordingView view;
    TInterpreter interp{counters, logs, view};
    MessageBuilder builder;

    std::vector<std::string> Row(int r) const {
        std::vector<std::string> cells;
        for (int c = 0; c < kEventGridCols; ++c) cells.push_back(logs.Events.Cell(c, r));
        return cells;
    }
    int Last() const { return logs.Events.RowCount() - 1; }
    void SetUp() override { logs.InitLogGrids(counters); }
};

using Cells = std::vector<std::string>;

TEST_F(LogsTest, EventGridGrowsAFixedTitleRow) {
    EXPECT_EQ(logs.Events.RowCount(), 1);
    EXPECT_EQ(logs.Events.FixedRows(), 0);
    EXPECT_EQ(Row(0), (Cells{"Time", "Interpretation", "Valid", "Retry", "Response",
                             "Dataport Message Received"}));
    interp.InterpretMessage(&builder.Make(0x05), false);
    EXPECT_EQ(logs.Events.RowCount(), 2);
    EXPECT_EQ(logs.Events.FixedRows(), 1);
    EXPECT_EQ(Row(1), (Cells{"10:00:0", "Sync Request", "Yes", "No", "Ack", "05"}));
}

TEST_F(LogsTest, HundredAndFirstEntryDropsTheOldest) {
    for (int i = 0; i < 101; ++i) logs.LogLineError(static_cast<std::uint16_t>(100 + i));
    EXPECT_EQ(logs.Events.RowCount(), 101);
    EXPECT_EQ(logs.Events.Cell(1, 1), "Unknown line error (101)");
    EXPECT_EQ(logs.Events.Cell(1, 100), "Unknown line error (200)");
    EXPECT_EQ(logs.Events.Cell(0, 0), "Time") << "the title row stays";

    logs.CutEventLog();
    EXPECT_EQ(logs.Events.RowCount(), 1);
    EXPECT_EQ(logs.Events.FixedRows(), 0);
    EXPECT_EQ(logs.Events.Cell(0, 0), "Time");
}

TEST_F(LogsTest, MessageRowColumns) {
    interp.InterpretMessage(&builder.Make(0x62, {3}), false);
    EXPECT_EQ(Row(Last()),
              (Cells{"10:00:0", "(3 off) Take Multiple Credits", "Yes", "No", "Ack", "62 03 65"}));

    interp.InterpretMessage(&builder.Make(0x69, {0x00, 0x0A}), false);
    interp.InterpretMessage(&builder.Make(0xE9, {0x00, 0x0A}), false);
    EXPECT_EQ(Row(Last()), (Cells{"10:00:2", "Game", "Yes", "Yes", "Ack", "E9 00 0A F3"}));

    TDPMessage& bad = builder.Make(0x69, {0x00, 0x0A});
    bad.Checksum = 0x74;
    bad.Valid = false;
    interp.InterpretMessage(&bad, false);
    EXPECT_EQ(Row(Last()), (Cells{"10:00:3", "Game", "Yes", "No", "Nak", "69 00 0A 74"}));

    TDPMessage& spoiled = builder.Make(0xA6);
    spoiled.Valid = false;
    spoiled.MsgClass = mcInvalid;
    spoiled.LineError = 3;
    interp.InterpretMessage(&spoiled, false);
    EXPECT_EQ(Row(Last()), (Cells{"10:00:4", "Invalid Message", "No", "Yes", "Nak", ""}));
    EXPECT_EQ(counters.Codes[0x26].Retries, 0);
    EXPECT_EQ(logs.Messages.Cell(3, 0x27), "");

    interp.InterpretMessage(&builder.Make(0x7E, {1}), false);
    EXPECT_EQ(logs.Events.Cell(4, Last()), "Esc");
}

TEST_F(LogsTest, LineErrorRows) {
    logs.LogLineError(3);
    EXPECT_EQ(Row(Last()), (Cells{"10:00:0", "Rx parity error", "No", "", "", ""}));
    const char* texts[] = {"Buffer overrun",
                           "Rx overrun",
                           "Rx parity error",
                           "Rx framing error",
                           "Tx timeout waiting for CTS",
                           "Tx timeout waiting for DSR",
                           "Tx timeout waiting for RLSD",
                           "Tx queue is full"};
    for (int code = 1; code <= 8; ++code) EXPECT_EQ(LineErrorText(code), texts[code - 1]);
    EXPECT_EQ(LineErrorText(0), "Unknown line error (0)");
    EXPECT_EQ(LineErrorText(9), "Unknown line error (9)");
}

TEST_F(LogsTest, MessageCountGrid) {
    EXPECT_EQ(logs.Messages.RowCount(), 129);
    EXPECT_EQ(logs.Messages.FixedRows(), 1);
    EXPECT_EQ(logs.Messages.Cell(0, 0), "Code");
    EXPECT_EQ(logs.Messages.Cell(3, 0), "Retries");
    EXPECT_EQ(logs.Messages.Cell(0, 0x0B), "0a");
    EXPECT_EQ(logs.Messages.Cell(1, 0x0B), "Take One Credit");
    EXPECT_EQ(logs.Messages.Cell(0, 128), "7f");
    EXPECT_EQ(logs.Messages.Cell(2, 0x0B), "") << "a count of 0 is an empty cell";

    interp.InterpretMessage(&builder.Make(0x0A), false);
    interp.InterpretMessage(&builder.Make(0x8A), false);
    interp.InterpretMessage(&builder.Make(0x8A), false);
    EXPECT_EQ(logs.Messages.Cell(2, 0x0B), "1");
    EXPECT_EQ(logs.Messages.Cell(3, 0x0B), "2");

    TCounters loaded{};
    loaded.Codes[0x7F].Messages = 12;
    loaded.Codes[0x00].Retries = -3;
    logs.InitLogGrids(loaded);
    EXPECT_EQ(logs.Messages.Cell(2, 128), "12");
    EXPECT_EQ(logs.Messages.Cell(3, 1), "-3");
    EXPECT_EQ(logs.Messages.Cell(2, 0x0B), "");
}

TEST_F(LogsTest, DescriptionColumnTakesTheRest) {
    EXPECT_EQ(DescriptionColumnWidth(700, 16), 700 - 32 - 56 - 56 - 16 - 9);
}

TEST_F(LogsTest, DebugLinesOnlyWhileVisibleAndAtMostTwoHundred) {
    logs.DebugLog("Dataport Reset");
    EXPECT_TRUE(logs.Debug.Lines().empty());
    logs.Debug.SetVisible(true);
    EXPECT_TRUE(logs.Debug.Lines().empty()) << "earlier lines do not come back";

    logs.DebugLog("Dataport Reset");
    EXPECT_EQ(logs.Debug.Lines().back(), "1000 Dataport Reset: ");
    for (int i = 0; i < 250; ++i) {
        tick = static_cast<std::uint32_t>(i);
        logs.DebugLog("Dataport State Changed", "Wait cks");
    }
    EXPECT_EQ(logs.Debug.Lines().size(), 200u);
    EXPECT_EQ(logs.Debug.Lines().front(), "50 Dataport State Changed: Wait cks");
    EXPECT_EQ(logs.Debug.Lines().back(), "249 Dataport State Changed: Wait cks");
    logs.Debug.Clear();
    EXPECT_TRUE(logs.Debug.Lines().empty());
}

TEST_F(LogsTest, DataportHandlersWriteDebugLines) {
    logs.Debug.SetVisible(true);
    TAcception a = acNotSupported;
    // Printf directives in the data are shown as they are.
    interp.VolmarDPMessage(nullptr, &builder.Make(0x77, {0, '%', 's', '%', 'n'}), false, a);
    EXPECT_EQ(a, acAccepted);
    EXPECT_EQ(logs.Debug.Lines().back(),
              "1000 OnDPMessage: Type:Variable length Hdr:77h Data:5  - Accepted");
    interp.VolmarDPMessage(nullptr, &builder.Make(0x77, {'A', '%', 's', '%', 'n'}), false, a);
    EXPECT_EQ(logs.Debug.Lines().back(),
              "1000 OnDPMessage: Type:Variable length Hdr:77h Data:5 A%s%n - Rejected");
    // Control bytes in caret notation keep one debug line one memo line.
    interp.VolmarDPMessage(nullptr, &builder.Make(0x77, {0x0D, 0x0A, 0x00, 0x0A, 0x1B}), false, a);
    EXPECT_EQ(logs.Debug.Lines().back(),
              "1000 OnDPMessage: Type:Variable length Hdr:77h Data:5 ^M^J - Rejected");

    TDPMessage& bad = builder.Make(0xA0);
    bad.Valid = false;
    bad.MsgClass = mcInvalid;
    interp.VolmarDPInvMessage(nullptr, &bad, false, a);
    EXPECT_EQ(a, acRejected);
    EXPECT_EQ(logs.Debug.Lines().back(), "1000 OnDPInvMessage: Type:6 Hdr:A0h - Rejected");
}

} // namespace
} // namespace volmar

#include "dataport/receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "support/fake_dataport_port.h"

namespace volmar {
namespace {

using testing::FakeDataportPort;
using Journal = std::vector<std::string>;

constexpr std::uint16_t kHandle = 8;

// One journal holds the receiver's events and the port's sends and flushes,
// so their relative order can be checked.
struct ReceiverTest : ::testing::Test {
    FakeDataportPort port;
    TVolmarDataport rx;
    TSerialBuffer buffer{256};
    TAcception answer = acAccepted;
    std::vector<TDPMessage> delivered;
    std::vector<std::vector<std::uint8_t>> deliveredData;
    std::vector<bool> wasInError;

    void SetUp() override {
        rx.SetComPort(&port);
        rx.SetTimerHandle(kHandle);
        rx.OnStateChange = [this](TVolmarDataport*, TDPState s, std::int32_t count) {
            std::string line = "state " + std::string(DPStateNames[s]);
            if (s == dpsWaitData) line += " " + std::to_string(count);
            port.Calls.push_back(line);
        };
        rx.OnDPMessage = [this](TVolmarDataport*, PDPMessage m, bool inError, TAcception& a) {
            EXPECT_EQ(a, acNotSupported);
            Record(*m, inError);
            port.Calls.push_back("msg " + MessageFrameHex(m));
            a = answer;
        };
        rx.OnDPInvMessage = [this](TVolmarDataport*, PDPMessage m, bool inError, TAcception& a) {
            Record(*m, inError);
            port.Calls.push_back("inv " + std::string(MsgClassNames[m->MsgClass]));
            a = acAccepted;  // ignored by the receiver
        };
        rx.OnTimeout = [this](TVolmarDataport* sender, TTimeoutType t) {
            port.Calls.push_back("timeout " + std::string(TimeoutNames[t]) + " in " +
                                 std::string(DPStateNames[sender->State()]));
        };
        rx.OnDPReset = [this](TVolmarDataport*) { port.Calls.push_back("reset"); };
    }

    void Record(const TDPMessage& m, bool inError) {
        delivered.push_back(m);
        deliveredData.emplace_back(m.Data, m.Data + kMaxDataLength + 1);
        wasInError.push_back(inError);
    }

    void Feed(std::initializer_list<std::uint8_t> bytes) {
        for (auto b : bytes) buffer.Put(b);
        rx.ProcessBuffer(buffer);
    }

    // Gets the receiver to "Wait header" with an empty journal.
    void ToWaitHeader() {
        rx.ResetReceiver();
        Feed({0x05});
        port.Calls.clear();
        port.Sent.clear();
        delivered.clear();
        deliveredData.clear();
        wasInError.clear();
    }
};

TEST_F(ReceiverTest, ConstructionState) {
    TVolmarDataport fresh;
    EXPECT_EQ(fresh.State(), dpsWaitHeaderNak);
    EXPECT_EQ(fresh.TimerHandle(), 0);
    EXPECT_TRUE(fresh.TimerIdle());
    EXPECT_FALSE(fresh.WasInError());
    EXPECT_FALSE(fresh.CharTimerPending());
    EXPECT_EQ(fresh.Version(), "1.01");
    fresh.SetVersion("9.99");
    EXPECT_EQ(fresh.Version(), "1.01");
    ASSERT_NE(fresh.Msg().Data, nullptr);
    for (std::size_t i = 0; i < kDataBlockSize; ++i) EXPECT_EQ(fresh.Msg().Data[i], 0);
}

TEST_F(ReceiverTest, ResetNaksEveryEighteenTicksUntilFirstByte) {
    rx.ResetReceiver();
    EXPECT_EQ(port.Calls, (Journal{"state Wait header (NAK)", "reset"}));
    EXPECT_TRUE(port.Armed(kHandle));
    port.Calls.clear();

    port.AdvanceTicks(18);
    EXPECT_TRUE(port.Sent.empty()) << "18 ticks have not passed the expiry tick yet";
    port.AdvanceTicks(1);
    EXPECT_EQ(port.Calls, (Journal{"timeout Timeout waiting for first message in Wait header (NAK)",
                                   "put 15"}));
    port.AdvanceTicks(19);
    EXPECT_EQ(port.Sent, (std::vector<std::uint8_t>{0x15, 0x15}));

    // A reset while already waiting re-enters the state and its timer.
    port.Calls.clear();
    port.AdvanceTicks(10);
    rx.ResetReceiver();
    EXPECT_EQ(port.Calls, (Journal{"state Wait header (NAK)", "reset"}));
    port.AdvanceTicks(18);
    EXPECT_EQ(port.Sent.size(), 2u);
    port.AdvanceTicks(1);
    EXPECT_EQ(port.Sent.size(), 3u);

    // The first byte stops the NAKs.
    Feed({0x20, 0x20});
    EXPECT_EQ(port.Sent.back(), 0x06);
    port.Sent.clear();
    port.AdvanceTicks(100);
    EXPECT_TRUE(port.Sent.empty());
}

TEST_F(ReceiverTest, HeaderOnlyMessageEventOrder) {
    ToWaitHeader();
    Feed({0x20, 0x20});
    EXPECT_EQ(port.Calls, (Journal{"state Wait cks", "msg 20 20", "put 06", "state Wait header"}));
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].Header, 0x20);
    EXPECT_EQ(delivered[0].Length, 0);
    EXPECT_EQ(delivered[0].Checksum, 0x20);
    EXPECT_TRUE(delivered[0].Valid);
    EXPECT_FALSE(delivered[0].Retry);
    EXPECT_EQ(delivered[0].MsgClass, mcHeaderOnly);
    EXPECT_FALSE(port.Armed(kHandle)) << "no inter-character timer after a complete frame";
    EXPECT_FALSE(rx.CharTimerPending());
    EXPECT_EQ(rx.Msg().Header, 0) << "entering Wait header clears the record";
}

TEST_F(ReceiverTest, RetryFlagAndChecksumIncludeBitSeven) {
    ToWaitHeader();
    Feed({0x8A, 0x0A});
    EXPECT_EQ(port.Calls.back(), "state Wait quiet") << "8Ah must be summed with its top bit";
    ToWaitHeader();
    Feed({0x8A, 0x8A});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(delivered[0].Retry);
    EXPECT_EQ(delivered[0].MsgClass, mcHeaderOnly);
    EXPECT_EQ(delivered[0].Code(), 0x0A);

    delivered.clear();
    Feed({0xE9, 0x00, 0x0A, 0xF3});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(delivered[0].Valid);
    EXPECT_TRUE(delivered[0].Retry);
}

TEST_F(ReceiverTest, SingleByteMessagesAreDeliveredAtOnce) {
    ToWaitHeader();
    Feed({0x85});
    EXPECT_EQ(port.Calls, (Journal{"msg 85", "put 06"})) << "no state change is reported";
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(delivered[0].Retry);
    EXPECT_EQ(delivered[0].Checksum, 0);
    EXPECT_EQ(delivered[0].Length, 0);
    EXPECT_EQ(delivered[0].MsgClass, mcSingleByte);

    // From "Wait header (NAK)" the delivery itself moves to "Wait header".
    rx.ResetReceiver();
    port.Calls.clear();
    Feed({0x05});
    EXPECT_EQ(port.Calls, (Journal{"msg 05", "put 06", "state Wait header"}));
    EXPECT_FALSE(port.Armed(kHandle));
}

TEST_F(ReceiverTest, BurstFramesMessagesInOrder) {
    ToWaitHeader();
    Feed({0x20, 0x20, 0x0B});
    EXPECT_EQ(port.Calls,
              (Journal{"state Wait cks", "msg 20 20", "put 06", "state Wait header", "msg 0B",
                       "put 06"}));
    EXPECT_EQ(port.CommunicationCalls, 4) << "once per byte consumed (one in ToWaitHeader)";
}

TEST_F(ReceiverTest, VariableLengthFrame) {
    ToWaitHeader();
    Feed({0x77, 0x02, 0x01, 0x02, 0x7C});
    EXPECT_EQ(port.Calls, (Journal{"state Wait length", "state Wait data 2", "state Wait cks",
                                   "msg 77 02 01 02 7C", "put 06", "state Wait header"}));
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].Length, 2);
    EXPECT_EQ(deliveredData[0][0], 1);
    EXPECT_EQ(deliveredData[0][1], 2);
    EXPECT_EQ(deliveredData[0][2], 0);
}

TEST_F(ReceiverTest, TwentyDataBytesLeaveATerminatingZero) {
    ToWaitHeader();
    std::uint8_t sum = 0x70 + 20;
    buffer.Put(0x70);
    buffer.Put(20);
    for (int i = 0; i < 20; ++i) {
        buffer.Put('A');
        sum = static_cast<std::uint8_t>(sum + 'A');
    }
    buffer.Put(sum);
    rx.ProcessBuffer(buffer);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(delivered[0].Valid);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(deliveredData[0].data())),
              std::string(20, 'A'));
}

TEST_F(ReceiverTest, TwoDataByteMessageFillsTheRecord) {
    ToWaitHeader();
    Feed({0x69, 0x00, 0x0A, 0x73});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].Length, 2);
    EXPECT_EQ(deliveredData[0][0], 0x00);
    EXPECT_EQ(deliveredData[0][1], 0x0A);
    EXPECT_EQ(delivered[0].Checksum, 0x73);
    EXPECT_EQ(port.Calls[0], "state Wait data 2");
}

TEST_F(ReceiverTest, BadChecksumGoesQuietThenNaksAfterFlushing) {
    ToWaitHeader();
    Feed({0x69, 0x00, 0x0A, 0x74});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_FALSE(delivered[0].Valid);
    EXPECT_EQ(delivered[0].MsgClass, mcTwoDataBytes);
    EXPECT_EQ(port.Calls.back(), "state Wait quiet");
    EXPECT_TRUE(port.Sent.empty());

    // Bytes within the silence restart it.
    port.AdvanceTicks(8);
    Feed({0x33});
    port.AdvanceTicks(9);
    Feed({0x44, 0x55});
    port.AdvanceTicks(9);
    EXPECT_TRUE(port.Sent.empty());
    EXPECT_EQ(rx.State(), dpsWaitQuiet);
    port.Calls.clear();
    port.AdvanceTicks(1);
    EXPECT_EQ(port.Calls, (Journal{"timeout Silence timeout after error in Wait quiet", "flush in",
                                   "flush out", "put 15", "state Wait header"}));
}

TEST_F(ReceiverTest, LengthAboveTwentyAbandonsTheFrame) {
    ToWaitHeader();
    Feed({0x77, 0x15});
    EXPECT_EQ(port.Calls, (Journal{"state Wait length", "state Wait quiet"}));
    EXPECT_TRUE(delivered.empty());
    port.AdvanceTicks(10);
    EXPECT_EQ(port.Sent, (std::vector<std::uint8_t>{0x15}));
    EXPECT_EQ(rx.State(), dpsWaitHeader);
}

TEST_F(ReceiverTest, LengthZeroIsTreatedAsOverLong) {
    ToWaitHeader();
    Feed({0x70, 0x00, 0x70});
    EXPECT_EQ(port.Calls, (Journal{"state Wait length", "state Wait quiet"}));
    EXPECT_TRUE(delivered.empty());
    port.AdvanceTicks(10);
    EXPECT_EQ(port.Sent, (std::vector<std::uint8_t>{0x15}));
    EXPECT_EQ(rx.State(), dpsWaitHeader);
}

TEST_F(ReceiverTest, GapInsideAFrame) {
    ToWaitHeader();
    Feed({0x20});
    EXPECT_EQ(rx.State(), dpsWaitCks);
    EXPECT_TRUE(port.Armed(kHandle));
    EXPECT_EQ(port.Timers[kHandle].Ticks, 1u);

    // The rest of the frame within the tick completes it.
    Feed({0x20});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(delivered[0].Valid);

    port.Calls.clear();
    Feed({0x20});
    port.AdvanceTicks(2);
    EXPECT_EQ(port.Calls, (Journal{"state Wait cks", "timeout Inter-character timeout in Wait cks",
                                   "state Wait quiet"}));
    port.Calls.clear();
    port.AdvanceTicks(10);
    EXPECT_EQ(port.Calls, (Journal{"timeout Silence timeout after error in Wait quiet", "flush in",
                                   "flush out", "put 15", "state Wait header"}));
}

TEST_F(ReceiverTest, InterCharTimerArmedOncePerBatchOnlyInsideAFrame) {
    ToWaitHeader();
    Feed({0x77, 0x03, 0x01});
    EXPECT_EQ(rx.State(), dpsWaitData);
    EXPECT_TRUE(port.Armed(kHandle));
    EXPECT_EQ(rx.TimerKind(), toInterChar);
    Feed({0x02});
    EXPECT_TRUE(port.Armed(kHandle));
    port.AdvanceTicks(2);
    EXPECT_EQ(rx.State(), dpsWaitQuiet);
}

TEST_F(ReceiverTest, RejectedAnswerSetsWasInErrorUntilAnotherAnswer) {
    ToWaitHeader();
    answer = acRejected;
    Feed({0x20, 0x20});
    EXPECT_EQ(port.Sent.back(), 0x15);
    EXPECT_TRUE(rx.WasInError());

    // An invalid message leaves it as it was.
    answer = acAccepted;
    Feed({0x20, 0x21});
    EXPECT_TRUE(rx.WasInError());
    port.AdvanceTicks(10);
    EXPECT_TRUE(rx.WasInError());

    Feed({0xA0, 0xA0});
    ASSERT_EQ(wasInError.size(), 3u);
    EXPECT_TRUE(wasInError[1]) << "the invalid message sees the flag too";
    EXPECT_TRUE(wasInError[2]);
    EXPECT_FALSE(rx.WasInError());
    answer = acNotSupported;
    Feed({0x21, 0x21});
    EXPECT_EQ(port.Sent.back(), 0x1B);
    EXPECT_FALSE(wasInError.back());
}

TEST_F(ReceiverTest, SilenceNakLeavesWasInErrorAsTheLastValidMessageLeftIt) {
    ToWaitHeader();
    Feed({0x26, 0x27});  // bad checksum after an accepted message
    port.AdvanceTicks(10);
    EXPECT_EQ(port.Sent.back(), 0x15);
    Feed({0xA6, 0xA6});
    ASSERT_EQ(wasInError.size(), 2u);
    EXPECT_FALSE(wasInError[1]) << "whether the resend is new is the interpreter's to judge";
}

// The owner learns which frame was abandoned from Msg().Header as the state
// becomes "Wait quiet"; every way of abandoning a frame must leave it there.
TEST_F(ReceiverTest, AbandonedFrameKeepsItsHeaderOnGoingQuiet) {
    ToWaitHeader();
    std::vector<int> headers;
    rx.OnStateChange = [&](TVolmarDataport* sender, TDPState s, std::int32_t) {
        if (s == dpsWaitQuiet) headers.push_back(sender->Msg().Header);
    };
    Feed({0xE9, 0x00, 0x0A, 0x00});  // bad checksum
    port.AdvanceTicks(10);
    rx.SetLineError(1);
    Feed({0x05});
    port.AdvanceTicks(10);
    Feed({0x70, 0x00});  // zero length
    port.AdvanceTicks(10);
    Feed({0xF7, 0x15});  // length above 20
    port.AdvanceTicks(10);
    Feed({0x26});  // gap
    port.AdvanceTicks(12);
    EXPECT_EQ(headers, (std::vector<int>{0xE9, 0x05, 0x70, 0xF7, 0x26}));
    EXPECT_EQ(rx.State(), dpsWaitHeader);
}

TEST_F(ReceiverTest, RefusedRepliesAreCountedAndFramingGoesOn) {
    ToWaitHeader();
    port.PutFails = true;
    answer = acRejected;
    EXPECT_NO_THROW(Feed({0x20, 0x20}));
    EXPECT_TRUE(rx.WasInError()) << "as if the NAK had gone out";
    EXPECT_EQ(rx.State(), dpsWaitHeader);
    Feed({0x26, 0x27});  // broken: its silence NAK is refused too
    EXPECT_NO_THROW(port.AdvanceTicks(10));
    EXPECT_EQ(rx.State(), dpsWaitHeader);
    EXPECT_EQ(rx.RepliesDropped(), 2u);
    EXPECT_TRUE(port.Sent.empty());

    port.PutFails = false;
    answer = acAccepted;
    Feed({0x69, 0x00, 0x0A, 0x73});
    EXPECT_EQ(port.Sent, (std::vector<std::uint8_t>{0x06}));
    EXPECT_EQ(delivered.size(), 3u);
    EXPECT_FALSE(rx.WasInError());
    EXPECT_EQ(rx.RepliesDropped(), 2u);
}

TEST_F(ReceiverTest, ReplyDroppedIsRaisedOncePerEpisode) {
    int raised = 0;
    rx.OnReplyDropped = [&](TVolmarDataport* sender) {
        EXPECT_EQ(sender, &rx);
        ++raised;
    };
    port.PutFails = true;
    rx.ResetReceiver();
    port.AdvanceTicks(19);  // the first-message NAK
    EXPECT_EQ(raised, 1) << "the first refusal since the receiver was made";
    Feed({0x05, 0x05});
    EXPECT_EQ(raised, 1);
    port.PutFails = false;
    Feed({0x05});
    port.PutFails = true;
    Feed({0x05, 0x05});
    EXPECT_EQ(raised, 2) << "a reply sent ends the episode";
    EXPECT_EQ(rx.RepliesDropped(), 5u);
}

TEST_F(ReceiverTest, UnassignedHandlerAnswersEsc) {
    ToWaitHeader();
    rx.OnDPMessage = nullptr;
    Feed({0x20, 0x20, 0x05});
    EXPECT_EQ(port.Sent, (std::vector<std::uint8_t>{0x1B, 0x1B}));
}

TEST_F(ReceiverTest, LineErrorMarksTheNextMessage) {
    ToWaitHeader();
    rx.SetLineError(3);
    rx.SetLineError(4);
    EXPECT_EQ(rx.Msg().LineError, 3) << "the first error wins";
    Feed({0x20, 0x20});
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_FALSE(delivered[0].Valid);
    EXPECT_EQ(delivered[0].MsgClass, mcInvalid);
    EXPECT_EQ(delivered[0].LineError, 3);
    EXPECT_TRUE(port.Sent.empty());
    EXPECT_EQ(rx.State(), dpsWaitQuiet);
}

TEST_F(ReceiverTest, LineErrorOnSingleByteMessage) {
    ToWaitHeader();
    rx.SetLineError(2);
    Feed({0x05});
    EXPECT_EQ(port.Calls,
              (Journal{"inv Invalid message", "state Wait quiet", "state Wait header"}));
    EXPECT_EQ(rx.Msg().LineError, 0) << "cleared on entering Wait header";
    EXPECT_TRUE(port.Armed(kHandle)) << "the silence timer stays armed";
    port.Calls.clear();
    port.AdvanceTicks(10);
    EXPECT_EQ(port.Calls, (Journal{"timeout Silence timeout after error in Wait header"}));
    EXPECT_TRUE(port.Sent.empty());
}

TEST_F(ReceiverTest, StaleAndForeignTimerNotificationsAreIgnored) {
    ToWaitHeader();
    Feed({0x20});
    ASSERT_TRUE(port.Notification);
    port.Notification(&port, kHandle + 8);
    EXPECT_EQ(rx.State(), dpsWaitCks);

    // An expiry already on its way when the next byte disarmed the timer.
    buffer.Put(0x20);
    rx.ProcessBuffer(buffer);
    port.Calls.clear();
    port.Notification(&port, kHandle);
    EXPECT_TRUE(port.Calls.empty());
    EXPECT_EQ(rx.State(), dpsWaitHeader);
}

TEST_F(ReceiverTest, ClosedPortOrNoHandleDropsRepliesAndTimers) {
    port.IsOpen = false;
    ToWaitHeader();
    Feed({0x20, 0x20});
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_TRUE(port.Sent.empty());
    EXPECT_EQ(rx.RepliesDropped(), 0u) << "a closed port refuses nothing";

    port.IsOpen = true;
    rx.SetTimerHandle(0);
    port.Timers.clear();
    rx.ResetReceiver();
    Feed({0x20});
    EXPECT_TRUE(port.Timers.empty());
    EXPECT_TRUE(rx.TimerIdle());
}

TEST_F(ReceiverTest, PortAssignmentBindsAndUnbindsTheTimer) {
    EXPECT_TRUE(port.Notification);
    FakeDataportPort other;
    rx.SetComPort(&other);
    EXPECT_FALSE(port.Notification);
    EXPECT_TRUE(other.Notification);
    rx.SetComPort(nullptr);
    EXPECT_FALSE(other.Notification);
    // Framing still works without a port.
    Feed({0x20, 0x20});
    EXPECT_EQ(delivered.size(), 1u);
}

// The frames a machine would send, built from header and data, are taken
// whole by the receiver: one builder and one framing, the same layout.
TEST_F(ReceiverTest, BuiltFramesAreReceivedWhole) {
    const std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> cases = {
        {0x0B, {}},         {0x26, {}},           {0xA6, {}},
        {0x61, {0x07}},     {0x69, {0x00, 0x0A}}, {0x69, {0x01}},
        {0x70, {1, 2, 3}},  {0x7F, std::vector<std::uint8_t>(25, 0xEE)},
    };
    for (const auto& [header, data] : cases) {
        ToWaitHeader();
        const std::vector<std::uint8_t> frame = BuildMessageFrame(header, data);
        for (auto b : frame) buffer.Put(b);
        rx.ProcessBuffer(buffer);
        ASSERT_EQ(delivered.size(), 1u) << "header " << int(header);
        EXPECT_TRUE(delivered[0].Valid);
        EXPECT_EQ(delivered[0].Header, header);
        const TCodeShape shape = ClassifyHeader(header);
        const std::size_t expectLength = shape.MsgClass == mcVariableLength
                                             ? std::min<std::size_t>(data.size(), kMaxDataLength)
                                             : shape.DataLength;
        for (std::size_t i = 0; i < expectLength; ++i)
            EXPECT_EQ(deliveredData[0][i], i < data.size() ? data[i] : 0) << "byte " << i;
        // The receiver clears its data block once it waits again; use the copy.
        TDPMessage copy = delivered[0];
        copy.Data = deliveredData[0].data();
        std::array<std::uint8_t, kMaxFrameSize> rebuilt;
        const std::size_t n = MessageFrameBytes(copy, rebuilt);
        EXPECT_EQ(std::vector<std::uint8_t>(rebuilt.begin(), rebuilt.begin() + n), frame);
    }
    EXPECT_EQ(BuildMessageFrame(0x69, {0x00, 0x0A}),
              (std::vector<std::uint8_t>{0x69, 0x00, 0x0A, 0x73}));
}

} // namespace
} // namespace volmar

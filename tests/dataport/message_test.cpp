#include "dataport/message.h"

#include <gtest/gtest.h>

namespace volmar {
namespace {

// The classes by code range, as the catalogue lists them.
TDPMsgClass ExpectedClass(int code) {
    if (code == 0x0A) return mcHeaderOnly;
    if (code <= 27) return mcSingleByte;
    if (code <= 95) return mcHeaderOnly;
    if (code <= 103) return mcOneDataByte;
    if (code <= 111) return mcTwoDataBytes;
    return mcVariableLength;
}

TEST(CodeToClass, EveryCodeWithAndWithoutRetryBit) {
    for (int code = 0; code < 128; ++code) {
        for (int retry : {0, 0x80}) {
            const TCodeShape shape = ClassifyHeader(static_cast<std::uint8_t>(code | retry));
            EXPECT_EQ(shape.MsgClass, ExpectedClass(code)) << "code " << code;
            const int length = shape.MsgClass == mcOneDataByte    ? 1
                               : shape.MsgClass == mcTwoDataBytes ? 2
                                                                  : 0;
            EXPECT_EQ(shape.DataLength, length) << "code " << code;
        }
    }
    EXPECT_EQ(ClassifyHeader(0x1B).MsgClass, mcSingleByte);
    EXPECT_EQ(ClassifyHeader(0x1C).MsgClass, mcHeaderOnly);
    EXPECT_EQ(ClassifyHeader(0x09).MsgClass, mcSingleByte);
    EXPECT_EQ(ClassifyHeader(0x0B).MsgClass, mcSingleByte);
}

TEST(NameTables, CatalogueTexts) {
    EXPECT_EQ(DPMessageNames[0x00], "Unused");
    EXPECT_EQ(DPMessageNames[0x05], "Sync Request");
    EXPECT_EQ(DPMessageNames[0x06], "Acknowledge");
    EXPECT_EQ(DPMessageNames[0x0A], "Take One Credit");
    EXPECT_EQ(DPMessageNames[0x15], "Negative Acknowledge");
    EXPECT_EQ(DPMessageNames[0x1B], "Command Not Implemented");
    EXPECT_EQ(DPMessageNames[0x1C], "Reserved");
    EXPECT_EQ(DPMessageNames[0x1E], "Call Attendant");
    EXPECT_EQ(DPMessageNames[0x1F], "Attendant Arrived");
    EXPECT_EQ(DPMessageNames[0x5E], "Request Linked Jackpot Increment Result");
    EXPECT_EQ(DPMessageNames[0x62], "Take Multiple Credits");
    EXPECT_EQ(DPMessageNames[0x68], "Arcade Management Mode Report");
    EXPECT_EQ(DPMessageNames[0x69], "Game");
    EXPECT_EQ(DPMessageNames[0x6E], "Door/Switch States Report");
    EXPECT_EQ(DPMessageNames[0x70], "Power on");
    EXPECT_EQ(DPMessageNames[0x77], "Send Data");
    EXPECT_EQ(DPMessageNames[0x78], "Unused");
    EXPECT_EQ(DPMessageNames[0x7E], "Approval Authority Datacomm Message");
    EXPECT_EQ(DPMessageNames[0x7F], "Reserved");
    for (const auto& name : DPMessageNames) EXPECT_FALSE(name.empty());
}

TEST(NameTables, MoneyBlocksFollowOneRule) {
    const char* denominations[] = {"1",   "2",   "5",    "10",   "20",   "50",
                                   "100", "200", "500", "1000", "2000", "5000"};
    const struct {
        int start;
        const char* word;
    } blocks[] = {{0x20, "In"}, {0x2C, "to Cashbox"}, {0x38, "Refill"}, {0x44, "Out"},
                  {0x50, "Dump"}};
    for (const auto& block : blocks)
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(DPMessageNames[block.start + i],
                      std::string(denominations[i]) + "Ft " + block.word);
    EXPECT_EQ(DPMessageNames[0x26], "100Ft In");
    EXPECT_EQ(DPMessageNames[0x37], "5000Ft to Cashbox");
}

TEST(NameTables, EnumerationDisplayNames) {
    EXPECT_EQ(MsgClassNames[mcNone], "No message");
    EXPECT_EQ(MsgClassNames[mcTwoDataBytes], "Two data byte");
    EXPECT_EQ(MsgClassNames[mcInvalid], "Invalid message");
    EXPECT_EQ(AcceptionNames[acNotSupported], "Not Supported");
    EXPECT_EQ(ReplyNames[acAccepted], "Ack");
    EXPECT_EQ(ReplyNames[acRejected], "Nak");
    EXPECT_EQ(ReplyNames[acNotSupported], "Esc");
    EXPECT_EQ(DPStateNames[dpsWaitHeaderNak], "Wait header (NAK)");
    EXPECT_EQ(DPStateNames[dpsWaitQuiet], "Wait quiet");
    EXPECT_EQ(TimeoutNames[toSilence], "Silence timeout after error");
}

TEST(ReplyByte, AnswersAndOutOfRangeValues) {
    EXPECT_EQ(ReplyByte(acAccepted), 0x06);
    EXPECT_EQ(ReplyByte(acRejected), 0x15);
    EXPECT_EQ(ReplyByte(acNotSupported), 0x1B);
    EXPECT_EQ(ReplyByte(static_cast<TAcception>(7)), 0x1B);
}

struct RecordFixture : ::testing::Test {
    std::uint8_t block[kDataBlockSize] = {};
    TDPMessage msg;
    void SetUp() override { msg.Data = block; }
};

TEST_F(RecordFixture, FrameHexPerClass) {
    EXPECT_EQ(MessageFrameHex(&msg), "");
    msg.MsgClass = mcHeaderOnly;
    msg.Header = 0x8A;
    msg.Checksum = 0x8A;
    EXPECT_EQ(MessageFrameHex(&msg), "8A 8A");

    msg.MsgClass = mcSingleByte;
    msg.Header = 0x05;
    msg.Checksum = 0;
    EXPECT_EQ(MessageFrameHex(&msg), "05");

    msg.MsgClass = mcTwoDataBytes;
    msg.Header = 0x69;
    msg.Length = 2;
    block[0] = 0x00;
    block[1] = 0x0A;
    msg.Checksum = 0x73;
    EXPECT_EQ(MessageFrameHex(&msg), "69 00 0A 73");

    msg.MsgClass = mcOneDataByte;
    msg.Header = 0x62;
    msg.Length = 1;
    block[0] = 0x03;
    msg.Checksum = 0x65;
    EXPECT_EQ(MessageFrameHex(&msg), "62 03 65");

    msg.MsgClass = mcVariableLength;
    msg.Header = 0x77;
    msg.Length = 2;
    block[0] = 1;
    block[1] = 2;
    msg.Checksum = 0x7C;
    EXPECT_EQ(MessageFrameHex(&msg), "77 02 01 02 7C");

    msg.MsgClass = mcInvalid;
    EXPECT_EQ(MessageFrameHex(&msg), "");
    EXPECT_EQ(MessageFrameHex(nullptr), "");
}

TEST_F(RecordFixture, ClearKeepsDataPointerAndZeroesTwentyBytes) {
    for (auto& b : block) b = 0xAA;
    msg.Valid = msg.Retry = true;
    msg.MsgClass = mcVariableLength;
    msg.Header = 0xF7;
    msg.Length = 20;
    msg.Checksum = 9;
    msg.LineError = 3;
    ClearMessage(msg);
    EXPECT_EQ(msg.Data, block);
    EXPECT_FALSE(msg.Valid);
    EXPECT_FALSE(msg.Retry);
    EXPECT_EQ(msg.MsgClass, mcNone);
    EXPECT_EQ(msg.Header, 0);
    EXPECT_EQ(msg.Length, 0);
    EXPECT_EQ(msg.Checksum, 0);
    EXPECT_EQ(msg.LineError, 0);
    for (int i = 0; i < kMaxDataLength; ++i) EXPECT_EQ(block[i], 0) << i;
    EXPECT_EQ(block[kMaxDataLength], 0xAA);
}

} // namespace
} // namespace volmar

// The answer to every header code, from the code table of the dataport
// protocol, for first transmissions, retries and invalid messages.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "interpret/interpreter.h"
#include "support/message_builder.h"
#include "support/recording_view.h"

namespace volmar {
namespace {

using testing::MessageBuilder;
using testing::RecordingView;

constexpr TAcception A = acAccepted, R = acRejected, N = acNotSupported;

struct CodeRange {
    int first, last;
    TAcception answer;
    bool decoded;
};

// Transcribed from the protocol's table of answers by code.
const CodeRange kTable[] = {
    {0x00, 0x00, R, false}, {0x01, 0x04, N, false}, {0x05, 0x05, A, false},
    {0x06, 0x06, R, false}, {0x07, 0x08, N, false}, {0x09, 0x09, R, false},
    {0x0A, 0x0A, A, true},  {0x0B, 0x14, R, false}, {0x15, 0x15, R, false},
    {0x16, 0x1A, N, false}, {0x1B, 0x1B, R, false}, {0x1C, 0x1D, N, false},
    {0x1E, 0x1F, A, true},  {0x20, 0x2B, A, true},  {0x2C, 0x37, A, true},
    {0x38, 0x43, A, true},  {0x44, 0x4F, A, true},  {0x50, 0x5B, A, true},
    {0x5C, 0x5F, N, false}, {0x60, 0x61, N, false}, {0x62, 0x62, A, true},
    {0x63, 0x65, N, false}, {0x66, 0x67, R, false}, {0x68, 0x68, N, false},
    {0x69, 0x69, A, true},  {0x6A, 0x6A, N, false}, {0x6B, 0x6B, A, true},
    {0x6C, 0x6C, A, true},  {0x6D, 0x6D, N, false}, {0x6E, 0x6E, A, true},
    {0x6F, 0x6F, N, false}, {0x70, 0x70, A, true},  {0x71, 0x73, N, false},
    {0x74, 0x74, A, true},  {0x75, 0x76, N, false}, {0x77, 0x77, A, true},
    {0x78, 0x79, R, false}, {0x7A, 0x7E, N, false}, {0x7F, 0x7F, R, false},
};

struct Expected {
    TAcception answer;
    bool decoded;
};

Expected ExpectedFor(int code) {
    for (const auto& r : kTable)
        if (code >= r.first && code <= r.last) return {r.answer, r.decoded};
    ADD_FAILURE() << "code " << code << " missing from the table";
    return {R, false};
}

// Well-formed data for the decoded codes.
std::vector<std::uint8_t> DataFor(int code) {
    switch (code) {
    case 0x62: return {3};
    case 0x69: return {0x01, 0xF4};
    case 0x6B: return {0x00, 0x64};
    case 0x6C: return {0x00, 0x32};
    case 0x6E: return {0x00, 0x70};
    case 0x70: return {'N', 'O', 'V', 0, 0, 0, 0, '1', '0', '2', 0, 0x7F, 0xFF, 0, 10, 90,
                       0, 0x70, 'A', 0};
    case 0x74: return {0, 0, 1, 0};
    case 0x77: return {0, 0, 0, 1, 0};
    default: {
        const auto shape = ClassifyHeader(static_cast<std::uint8_t>(code));
        if (shape.MsgClass == mcVariableLength) return {1, 2};
        return std::vector<std::uint8_t>(shape.DataLength, 0);
    }
    }
}

struct AnswersTest : ::testing::Test {
    TCounters counters{};
    TLogs logs{{[] { return 0u; }, [] { return std::string("12:00:00"); }}};
    RecordingView view;
    TInterpreter interp{counters, logs, view};
    MessageBuilder builder;

    TAcception Send(int header, bool wasInError, bool valid = true) {
        TDPMessage& m = builder.Make(static_cast<std::uint8_t>(header), DataFor(header & 0x7F));
        m.Valid = valid;
        return interp.InterpretMessage(&m, wasInError);
    }

    // Everything a message may change besides its own count.
    std::vector<std::int32_t> Totals() const {
        return {counters.In,      counters.Out,     counters.Games,
                counters.Stakes,  counters.Wins,    counters.Cashbox,
                counters.Refills, counters.Dumps,   counters.CancelledCredits,
                counters.CreditsTaken};
    }
    std::size_t Effects() const { return view.Calls.size() + view.Refreshes.size(); }
};

TEST_F(AnswersTest, FirstTransmissionOfEveryCode) {
    for (int code = 0; code < 128; ++code) {
        SCOPED_TRACE(::testing::Message() << "code " << std::hex << code);
        const Expected e = ExpectedFor(code);
        const auto totals = Totals();
        const std::size_t effects = Effects();
        EXPECT_EQ(Send(code, false), e.answer);
        EXPECT_EQ(interp.LastAcception(), e.answer);
        EXPECT_EQ(counters.Codes[code].Messages, 1);
        EXPECT_EQ(counters.Codes[code].Retries, 0);
        EXPECT_EQ(Effects() > effects || Totals() != totals, e.decoded) << "decoder ran";
    }
}

TEST_F(AnswersTest, RetryAfterAcceptedIsAcceptedAndNotActedOn) {
    for (int code = 0; code < 128; ++code) {
        SCOPED_TRACE(::testing::Message() << "code " << std::hex << code);
        ASSERT_EQ(Send(0x05, false), acAccepted);
        const auto totals = Totals();
        const std::size_t effects = Effects();
        EXPECT_EQ(Send(code | 0x80, false), acAccepted);
        EXPECT_EQ(Totals(), totals);
        EXPECT_EQ(Effects(), effects);
        EXPECT_EQ(counters.Codes[code].Retries, 1);
        EXPECT_EQ(counters.Codes[code].Messages, code == 0x05 ? 6 : 0);
    }
}

TEST_F(AnswersTest, RetryAfterRejectedIsDecidedAgain) {
    for (int code = 0; code < 128; ++code) {
        SCOPED_TRACE(::testing::Message() << "code " << std::hex << code);
        const Expected e = ExpectedFor(code);
        ASSERT_EQ(Send(0x00, false), acRejected);
        const auto totals = Totals();
        const std::size_t effects = Effects();
        // After a rejection the receiver passes WasInError true.
        EXPECT_EQ(Send(code | 0x80, true), e.answer);
        EXPECT_EQ(Effects() > effects || Totals() != totals, e.decoded);
        EXPECT_EQ(counters.Codes[code].Retries, 1);
    }
}

TEST_F(AnswersTest, RetryAfterRejectedWithoutErrorFlagIsAccepted) {
    // A rejection that the receiver did not answer with a NAK of its own,
    // such as an invalid message, leaves WasInError false.
    ASSERT_EQ(Send(0x26, false, false), acRejected);
    EXPECT_EQ(Send(0xA6, false), acAccepted);
    EXPECT_EQ(counters.In, 0);
}

TEST_F(AnswersTest, RetryAfterNotSupportedIsNotSupported) {
    for (int code = 0; code < 128; ++code) {
        SCOPED_TRACE(::testing::Message() << "code " << std::hex << code);
        ASSERT_EQ(Send(0x7E, false), acNotSupported);
        const auto totals = Totals();
        const std::size_t effects = Effects();
        EXPECT_EQ(Send(code | 0x80, false), acNotSupported);
        EXPECT_EQ(Totals(), totals);
        EXPECT_EQ(Effects(), effects);
        EXPECT_EQ(counters.Codes[code].Retries, 1);
    }
}

TEST_F(AnswersTest, FirstMessageAfterStartWithRetryBitIsNotSupported) {
    EXPECT_EQ(interp.LastAcception(), acNotSupported);
    EXPECT_EQ(Send(0xA2, false), acNotSupported);
    EXPECT_EQ(counters.In, 0);
    EXPECT_EQ(counters.Codes[0x22].Retries, 1);
}

TEST_F(AnswersTest, InvalidMessagesAreRejectedAndNeverCounted) {
    for (int code = 0; code < 128; ++code) {
        for (int retry : {0, 0x80}) {
            SCOPED_TRACE(::testing::Message() << "header " << std::hex << (code | retry));
            const auto totals = Totals();
            const std::size_t effects = Effects();
            EXPECT_EQ(Send(code | retry, retry != 0, false), acRejected);
            EXPECT_EQ(interp.LastAcception(), acRejected);
            EXPECT_EQ(Totals(), totals);
            EXPECT_EQ(Effects(), effects);
        }
    }
    for (const auto& c : counters.Codes) {
        EXPECT_EQ(c.Messages, 0);
        EXPECT_EQ(c.Retries, 0);
    }
    EXPECT_EQ(logs.Events.RowCount(), 101) << "every invalid message is logged";
}

TEST_F(AnswersTest, FiveFtInRetries) {
    ASSERT_EQ(Send(0x22, false), acAccepted);
    EXPECT_EQ(counters.In, 5);
    EXPECT_EQ(Send(0xA2, false), acAccepted);
    EXPECT_EQ(counters.In, 5) << "a repeat is not counted twice";
    EXPECT_EQ(counters.Codes[34].Retries, 1);
    EXPECT_EQ(Send(0xA2, true), acAccepted);
    EXPECT_EQ(counters.In, 10) << "after a rejection the retry is acted on";
}

TEST_F(AnswersTest, ValidRecordOfNoClassIsRejectedButCounted) {
    TDPMessage& m = builder.Make(0x26);
    m.MsgClass = mcNone;
    EXPECT_EQ(interp.InterpretMessage(&m, false), acRejected);
    EXPECT_EQ(counters.Codes[0x26].Messages, 1);
    EXPECT_EQ(counters.In, 0);

    // A code that reaches another class's validator is not supported.
    TDPMessage& wrong = builder.Make(0x0A);
    wrong.MsgClass = mcSingleByte;
    EXPECT_EQ(interp.InterpretMessage(&wrong, false), acNotSupported);
}

} // namespace
} // namespace volmar

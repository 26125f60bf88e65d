// The answer to every header code, from the code table of the dataport
// protocol, for first transmissions, resends and invalid messages.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

#include "interpret/interpreter.h"
#include "support/fake_dataport_port.h"
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
        return Send(header, DataFor(header & 0x7F), wasInError, valid);
    }
    TAcception Send(int header, const std::vector<std::uint8_t>& data, bool wasInError,
                    bool valid = true) {
        TDPMessage& m = builder.Make(static_cast<std::uint8_t>(header), data);
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

TEST_F(AnswersTest, RepeatOfEveryCodeIsAnsweredAgainAndNotActedOn) {
    for (int code = 0; code < 128; ++code) {
        SCOPED_TRACE(::testing::Message() << "code " << std::hex << code);
        const Expected e = ExpectedFor(code);
        ASSERT_EQ(Send(code, false), e.answer);
        const auto totals = Totals();
        const std::size_t effects = Effects();
        // A rejection was a NAK: the receiver passes WasInError true, and the
        // resend is decided again, to the same answer.
        EXPECT_EQ(Send(code | 0x80, e.answer == R), e.answer);
        EXPECT_EQ(Totals(), totals);
        EXPECT_EQ(Effects(), effects);
        EXPECT_EQ(counters.Codes[code].Messages, 1);
        EXPECT_EQ(counters.Codes[code].Retries, 1);
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

// Resends whose first copy was never acted on carry money that must count.
TEST_F(AnswersTest, ResendOfAMessageNotDecidedBeforeIsActedOn) {
    EXPECT_EQ(Send(0xA2, false), acAccepted) << "a resend as the first message";
    EXPECT_EQ(counters.In, 5);

    ASSERT_EQ(Send(0x26, false), acAccepted);
    EXPECT_EQ(Send(0xA7, false), acAccepted) << "another code than the last";
    EXPECT_EQ(counters.In, 305);

    ASSERT_EQ(Send(0x69, {0x00, 0x64}, false), acAccepted);
    EXPECT_EQ(Send(0xE9, {0x01, 0xF4}, false), acAccepted) << "other data than the last";
    EXPECT_EQ(counters.Stakes, 600);
    EXPECT_EQ(counters.Games, 2);

    ASSERT_EQ(Send(0x7E, false), acNotSupported);
    EXPECT_EQ(Send(0xA6, false), acAccepted) << "after an Esc to another code";
    EXPECT_EQ(counters.In, 405);
    EXPECT_EQ(counters.Codes[0x26].Retries, 1);
}

TEST_F(AnswersTest, EqualFirstTransmissionsAreEachActedOn) {
    ASSERT_EQ(Send(0x26, false), acAccepted);
    ASSERT_EQ(Send(0x26, false), acAccepted);
    EXPECT_EQ(counters.In, 200);
}

TEST_F(AnswersTest, ResendAfterANakIsDecidedAfresh) {
    for (bool wasInError : {true, false}) {
        SCOPED_TRACE(wasInError ? "with WasInError" : "by the remembered answer alone");
        ASSERT_EQ(Send(0x77, {4, 0, 0, 0, 7}, false), acRejected);
        EXPECT_EQ(Send(0xF7, {4, 0, 0, 0, 7}, wasInError), acRejected);
        EXPECT_EQ(logs.Events.Cell(1, logs.Events.RowCount() - 1),
                  "(7 off unknown data type) Send Data")
            << "the decoder ran again";
    }
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

// The receiver and the interpreter wired as the owner wires them: broken
// frames reach the interpreter as the receiver goes quiet.
struct LinkTest : AnswersTest {
    testing::FakeDataportPort port;
    TVolmarDataport rx;
    TSerialBuffer buffer{64};

    void SetUp() override {
        rx.SetComPort(&port);
        rx.SetTimerHandle(1);
        rx.OnDPMessage = [this](TVolmarDataport* s, PDPMessage m, bool e, TAcception& a) {
            interp.VolmarDPMessage(s, m, e, a);
        };
        rx.OnDPInvMessage = [this](TVolmarDataport* s, PDPMessage m, bool e, TAcception& a) {
            interp.VolmarDPInvMessage(s, m, e, a);
        };
        rx.OnStateChange = [this](TVolmarDataport* s, TDPState state, std::int32_t) {
            if (state == dpsWaitQuiet) interp.NoteBrokenFrame(s->Msg().Header);
        };
        rx.ResetReceiver();
    }

    // The replies to the bytes, a broken frame's silence NAK included.
    std::vector<std::uint8_t> Line(std::initializer_list<std::uint8_t> bytes) {
        port.Sent.clear();
        for (auto b : bytes) buffer.Put(b);
        rx.ProcessBuffer(buffer);
        port.AdvanceTicks(12);
        return port.Sent;
    }
};

using Replies = std::vector<std::uint8_t>;

TEST_F(LinkTest, LostAckThenBrokenResendIsCountedOnce) {
    ASSERT_EQ(Line({0x26, 0x26}), Replies{0x06});
    ASSERT_EQ(Line({0xA6, 0xA7}), Replies{0x15});
    EXPECT_EQ(Line({0xA6, 0xA6}), Replies{0x06});
    EXPECT_EQ(counters.In, 100);
    EXPECT_EQ(counters.Codes[0x26].Retries, 1);
}

TEST_F(LinkTest, BrokenFirstTransmissionIsCountedOnceFromItsResend) {
    ASSERT_EQ(Line({0x26, 0x26}), Replies{0x06});
    ASSERT_EQ(Line({0x26, 0x27}), Replies{0x15});  // a second coin of the same value
    EXPECT_EQ(Line({0xA6, 0xA6}), Replies{0x06});
    EXPECT_EQ(counters.In, 200);
}

TEST_F(LinkTest, RepeatOfNotSupportedIsEscEvenAfterABrokenResend) {
    ASSERT_EQ(Line({0x6A, 0x00, 0x01, 0x6B}), Replies{0x1B});
    ASSERT_EQ(Line({0xEA, 0x00, 0x01, 0x00}), Replies{0x15});
    ASSERT_EQ(interp.LastAcception(), acRejected);
    EXPECT_EQ(Line({0xEA, 0x00, 0x01, 0xEB}), Replies{0x1B});
    EXPECT_EQ(counters.Codes[0x6A].Retries, 1);
}

} // namespace
} // namespace volmar

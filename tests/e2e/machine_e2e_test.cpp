// The simulator as its own process, offscreen, against the stand-in machine
// over a pseudo-terminal: what the machine sees on the line, and what the
// simulator's counters file holds after SIGTERM. The expected answers and
// counts are worked out with the interpretation over the same messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "e2e/conversation.h"
#include "e2e/line_model.h"
#include "interpret/counters.h"
#include "support/machine_session.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

constexpr int kRetryLimit = 2;

class MachineEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { folder = std::make_unique<ProgramFolder>(VOLMARSIM_PATH, "volmare2e"); }

    SessionResult Run(const Conversation& C) {
        return RunSession(VOLMAR_MACHINE_PATH, *folder, C.Script, C.Expected.size(),
                          {{"--retries", std::to_string(kRetryLimit), "--reply-timeout", "3000"},
                           {},
                           60000});
    }

    // The machine ran the whole script with every expectation held, each
    // exchange as foreseen, and the simulator ended cleanly on SIGTERM.
    static void ExpectConversation(const SessionResult& R, const Conversation& C) {
        EXPECT_EQ(R.MachineStatus, 0) << "every answer as expected\n" << R.Transcript;
        EXPECT_EQ(R.ProgramStatus, 0) << "the simulator ends cleanly on SIGTERM\n"
                                       << R.ProgramErrors;
        ASSERT_EQ(R.Exchanges.size(), C.Expected.size()) << R.Transcript;
        for (std::size_t i = 0; i < C.Expected.size(); ++i) {
            const auto& want = C.Expected[i];
            const auto& got = R.Exchanges[i];
            SCOPED_TRACE("exchange " + std::to_string(i + 1) + ": " + HexList(want.Frame));
            EXPECT_EQ(HexList(got.Frame), HexList(want.Frame));
            EXPECT_EQ(got.Answer, want.Answer);
            EXPECT_EQ(got.Retries, want.Retries);
            ASSERT_TRUE(got.Micros.has_value()) << "an answer came";
            // Nine ticks of 55 ms without a byte come first; a NAK while
            // the machine may still be sending would cut into its frame.
            if (want.AfterSilence) {
                EXPECT_GE(*got.Micros, 400000.0) << "NAKed only after the silence";
            }
        }
    }

    // Field by field, which covers every byte of the file.
    void ExpectCounters(const TCounters& Expected) {
        const auto file = folder->Counters();
        ASSERT_EQ(file.size(), sizeof(TCounters));
        const auto got = CountersFromBytes(file);
        for (int c = 0; c < 128; ++c) {
            EXPECT_EQ(got->Codes[c].Messages, Expected.Codes[c].Messages) << "code " << c;
            EXPECT_EQ(got->Codes[c].Retries, Expected.Codes[c].Retries) << "code " << c;
        }
        EXPECT_EQ(got->In, Expected.In);
        EXPECT_EQ(got->Out, Expected.Out);
        EXPECT_EQ(got->Games, Expected.Games);
        EXPECT_EQ(got->Stakes, Expected.Stakes);
        EXPECT_EQ(got->Wins, Expected.Wins);
        EXPECT_EQ(got->Cashbox, Expected.Cashbox);
        EXPECT_EQ(got->Refills, Expected.Refills);
        EXPECT_EQ(got->Dumps, Expected.Dumps);
        EXPECT_EQ(got->CancelledCredits, Expected.CancelledCredits);
        EXPECT_EQ(got->CreditsTaken, Expected.CreditsTaken);
    }

    std::unique_ptr<ProgramFolder> folder;
};

// A "Power on" report: manufacturer, four bytes not read, version, the
// management and dataport support bits, credit value, payout percentage,
// switch word, protocol version and the values mode.
std::vector<std::uint8_t> PowerOn(std::uint8_t ValuesMode) {
    return {'V', 'L', 'M', 0, 0, 0, 0, '1', '2', '3', 0x00, 0x7F, 0xFF,
            0x00, 0x14, 90, 0x00, 0xB0, '2', ValuesMode};
}

TEST_F(MachineEndToEnd, EveryMessageFamilyIsAnsweredAndCounted) {
    TCounters expected{};
    LineModel model(expected);
    Conversation c(model, kRetryLimit);
    c.Settle();

    c.Comment("single byte: sync request, a reserved code, an unused one");
    c.Send(0x05);
    c.Send(0x02);
    c.Send(0x0B);
    c.Comment("header only: credit, attendant, and money in, to cashbox, refill, out, dump");
    c.Send(0x0A);
    c.Send(0x1E);
    c.Send(0x1F);
    c.Send(0x26);
    c.Send(0x2B);
    c.Send(0x33);
    c.Send(0x3A);
    c.Send(0x4B);
    c.Send(0x5B);
    c.Comment("header only, not acted on: reserved, linked jackpot");
    c.Send(0x1C);
    c.Send(0x5C);
    c.Comment("one data byte: credits taken; not supported; unused");
    c.Send(0x62, {3});
    c.Send(0x60, {95});
    c.Send(0x66, {1});
    c.Comment("two data bytes: game, credit value, win, switch word; not supported");
    c.Send(0x69, {0x01, 0xF4});
    c.Send(0x6B, {0x00, 0x14});
    c.Send(0x6C, {0x03, 0xE8});
    c.Send(0x6E, {0x00, 0x30});
    c.Send(0x68, {0x00, 0x01});
    c.Comment("variable length: power on, cancelled credits, send data of each type");
    c.Send(0x70, PowerOn(0));
    c.Send(0x74, {0x00, 0x00, 0x01, 0x00});
    c.Send(0x77, {0x00, 0x00, 0x00, 0x02, 0x50});
    c.Send(0x77, {0x01, 0x00, 0x00, 0x00, 0x40});
    c.Send(0x77, {0x02, 0x00, 0x00, 0x00, 0x05});
    c.Send(0x77, {0x03, 0x00, 0x00, 0x01, 0x00});
    c.Send(0x77, {0x04, 0x00, 0x00, 0x00, 0x01});
    c.Comment("plain numbers from here on");
    c.Send(0x70, PowerOn(1));
    c.Send(0x74, {0x00, 0x00, 0x01, 0x00});
    c.Comment("variable length, not acted on: a fault report, unused, the last code");
    c.Send(0x71, {0x01});
    c.Send(0x78, {0x01});
    c.Send(0x7F, {0x01});
    c.Comment("a resend of an accepted message: answered, not acted on again");
    c.Send(0x26);
    c.Send(0x26, {}, true);

    const auto r = Run(c);
    ASSERT_TRUE(r.Started) << r.Transcript;
    ExpectConversation(r, c);
    ExpectCounters(expected);
}

TEST_F(MachineEndToEnd, BrokenFramesAreNakedAfterTheSilenceAndTheirResendsCountOnce) {
    TCounters expected{};
    LineModel model(expected);
    Conversation c(model, kRetryLimit);
    c.Settle();

    c.Comment("a bad checksum; the machine's resend is acted on, as a retry");
    c.BadChecksum(0x26, {});
    c.Send(0x26, {}, true);
    c.Comment("a gap inside a frame: the inter-character timeout, then the silence");
    c.Gap(0x69, {0x00, 0x0A}, 2, 300);
    c.Send(0x69, {0x00, 0x0A}, true);
    c.Comment("a length byte above 20, whose data would read as coins if taken");
    std::vector<std::uint8_t> overLong{0x77, 21};
    for (int i = 0; i < 21; ++i) overLong.push_back(0x26);
    std::uint8_t sum = 0;
    for (auto b : overLong) sum = static_cast<std::uint8_t>(sum + b);
    overLong.push_back(sum);
    c.Abandoned(overLong);
    c.Send(0x77, {0x00, 0x00, 0x00, 0x01, 0x00}, true);
    c.Comment("a resend after an accepted message is not acted on");
    c.Send(0x2B);
    c.Send(0x2B, {}, true);

    const auto r = Run(c);
    ASSERT_TRUE(r.Started) << r.Transcript;
    ExpectConversation(r, c);
    ExpectCounters(expected);
}

TEST_F(MachineEndToEnd, ARestartCarriesTheTotalsAndCountsOver) {
    TCounters expected{};
    {
        LineModel model(expected);
        Conversation c(model, kRetryLimit);
        c.Settle();
        c.Send(0x26);
        c.Send(0x69, {0x00, 0x64});
        c.Send(0x6C, {0x00, 0x32});
        c.Send(0x0A);
        c.Send(0x7F, {0x01});
        const auto r = Run(c);
        ASSERT_TRUE(r.Started) << r.Transcript;
        ExpectConversation(r, c);
        ExpectCounters(expected);
    }
    {
        LineModel model(expected);  // a new run: its last answer starts afresh
        Conversation c(model, kRetryLimit);
        c.Settle();
        c.Comment("a resend right after a broken frame is acted on");
        c.Send(0x26, {}, true);
        c.Send(0x26);
        c.Send(0x2B);
        c.Send(0x69, {0x01, 0x00});
        c.Send(0x62, {2});
        const auto r = Run(c);
        ASSERT_TRUE(r.Started) << r.Transcript;
        ExpectConversation(r, c);
        ExpectCounters(expected);
    }
}

} // namespace
} // namespace volmar

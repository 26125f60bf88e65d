// The replay's plan and play: a capture becomes steps that keep a pause
// inside a frame, skip what answers nothing and know an answer the capture
// lacks; each answer is compared with the captured one.
#include "lab/capture_format.h"
#include "tools/machine_replay.h"

#include <deque>
#include <gtest/gtest.h>
#include <sstream>

namespace volmar::machine {
namespace {

TTrafficRecord Rec(TRecordKind Kind, std::vector<std::uint8_t> Bytes, std::int64_t MonoUs,
                   std::int64_t FirstUs = 0) {
    TTrafficRecord r;
    r.Kind = Kind;
    r.Bytes = TRecordBytes(Bytes.begin(), Bytes.end());
    r.WallUs = 1'800'000'000'000'000 + MonoUs;
    r.MonoUs = MonoUs;
    r.FirstMonoUs = FirstUs;
    r.Valid = Kind == TRecordKind::Frame && Bytes.size() > 1;
    return r;
}

TTrafficRecord Reply(std::uint8_t Byte, std::int64_t MonoUs, TReplyCause Cause = rcAnswer) {
    TTrafficRecord r = Rec(TRecordKind::Reply, {Byte}, MonoUs);
    r.Cause = Cause;
    return r;
}

// A session: its start, a first-message NAK, a frame broken by a pause
// and the bytes after it thrown away until the silence NAK, a whole frame
// answered, one whose answer the capture lost, one answered after the
// port refused the answer, and the end totals.
TReplayPlan Plan() {
    std::vector<TTrafficRecord> records = {
        EventRecord(TLineEvent::StartState, 9600, "speed mode 9600"),
        EventRecord(TLineEvent::Totals, 0, "in=5 games=2"),
        Reply(kNak, 900'000, rcFirstMessageNak),
        Rec(TRecordKind::Frame, {0x20}, 1'100'000, 1'000'000),
        Rec(TRecordKind::Discarded, {0x20}, 1'800'000, 1'300'000),
        Reply(kNak, 1'900'000, rcSilenceNak),
        Rec(TRecordKind::Frame, {0x20, 0x20}, 3'000'000, 2'999'000),
        Reply(kAck, 3'000'100),
        Rec(TRecordKind::Frame, {0x0A, 0x0A}, 4'000'000, 4'000'000),
        Rec(TRecordKind::Frame, {0x8A, 0x0A ^ 0x80}, 5'000'000, 5'000'000),
        Reply(kAck, 5'000'100),
        EventRecord(TLineEvent::Totals, 0, "in=6 games=2"),
    };
    records[11].MonoUs = 6'000'000;
    records[9].Valid = true;
    std::string text;
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].Kind == TRecordKind::Event) records[i].WallUs = 1'800'000'000'000'000;
        text += FormatRecord(records[i], TCaptureFormat::Text);
    }
    return PlanReplay(ParseCapture(text, "c"));
}

TEST(ReplayTest, StepsKeepTheirPausesAndKnowAMissingAnswer) {
    const TReplayPlan plan = Plan();
    EXPECT_EQ(plan.StartBaud, 9600);
    EXPECT_EQ(plan.StartSpeedMode, "9600");
    EXPECT_EQ(plan.StartTotals, "in=5 games=2");
    EXPECT_EQ(plan.EndTotals, "in=6 games=2");
    ASSERT_EQ(plan.Steps.size(), 4u);
    const TReplayStep& broken = plan.Steps[0];
    ASSERT_EQ(broken.Parts.size(), 2u);
    EXPECT_EQ(broken.Parts[1].OffsetUs, 300'000) << "the pause inside the frame stays";
    EXPECT_EQ(broken.Answer, kNak);
    EXPECT_EQ(broken.Line, 4);
    EXPECT_EQ(plan.Steps[1].Answer, kAck);
    EXPECT_TRUE(plan.Steps[2].AnswerMissing);
    EXPECT_FALSE(plan.Steps[3].AnswerMissing);
    EXPECT_EQ(plan.Steps[3].StartUs, 5'000'000);
    EXPECT_EQ(TotalsDifference(ParseTotals(plan.EndTotals), ParseTotals("games=2 in=7")),
              "in captured 6, now 7");
}

// Answers from a list; what is sent and how long it idled, on record.
class ScriptedLine : public IMachineLine {
  public:
    explicit ScriptedLine(std::deque<std::optional<std::uint8_t>> Answers)
        : FAnswers(std::move(Answers)) {}
    void Send(const std::vector<std::uint8_t>& Bytes) override {
        Sent.push_back(Bytes);
        IdleBeforeSend.push_back(FIdled);
        FIdled = 0;
    }
    std::optional<std::uint8_t> WaitByte(int) override {
        if (FAnswers.empty()) return std::nullopt;
        const auto a = FAnswers.front();
        FAnswers.pop_front();
        return a;
    }
    void DiscardInput() override {}
    void Idle(int Ms) override { FIdled += Ms; }
    void SetRTS(bool) override {}
    std::vector<std::vector<std::uint8_t>> Sent;
    std::vector<int> IdleBeforeSend;

  private:
    std::deque<std::optional<std::uint8_t>> FAnswers;
    int FIdled = 0;
};

TEST(ReplayTest, FastPlayKeepsTheGapAndReportsEachDifferentAnswer) {
    // The broken frame answered Ack now, the whole one as captured.
    ScriptedLine line({kAck, kAck, std::nullopt, kAck});
    std::ostringstream out;
    const TReplayCounts counts = RunReplay(Plan(), TReplayPace{0.0}, 1000, line, out);
    EXPECT_EQ(counts.Played, 4);
    EXPECT_EQ(counts.Equal, 2);
    EXPECT_EQ(counts.Different, 1);
    EXPECT_EQ(counts.Missing, 1);
    ASSERT_EQ(line.Sent.size(), 5u);
    EXPECT_GE(line.IdleBeforeSend[1], 299) << "the gap inside the frame is kept at fast pace";
    EXPECT_LT(line.IdleBeforeSend[2], 100) << "fast: no wait between frames";
    EXPECT_NE(out.str().find("difference: " + Plan().Steps[0].Wall +
                             " (line 4)  20 20  captured Nak  now Ack\n"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("replay: 4 frames played, 2 answers equal, 1 different, 1 without an "
                             "answer in the capture"),
              std::string::npos);
}

} // namespace
} // namespace volmar::machine

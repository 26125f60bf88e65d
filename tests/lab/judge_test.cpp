// The verdict on the machine: each rule judges what followed a message by
// how that message was answered, and only that.
#include <QJsonArray>

#include "lab/conformance.h"
#include "lab/control_commands.h"
#include "lab/fault_driver.h"
#include "lab/judge.h"
#include "lab/lab_fixture.h"

namespace volmar::testing {
namespace {

TTrafficRecord FrameOf(std::uint8_t Header, const Bytes& Data, std::int64_t MonoUs,
                       TFrameFault Fault = ffNone) {
    const Bytes frame = BuildMessageFrame(Header, Data);
    TTrafficRecord r;
    r.Kind = TRecordKind::Frame;
    r.Bytes = TRecordBytes(frame.begin(), frame.end());
    r.Retry = (Header & 0x80) != 0;
    r.Valid = Fault == ffNone;
    r.Fault = Fault;
    r.MonoUs = MonoUs;
    return r;
}

// LatencyUs -1: put on the line after the fact, not as the answer.
TTrafficRecord ReplyOf(std::uint8_t Byte, TReplyCause Cause = rcAnswer, std::int64_t LatencyUs = 100) {
    TTrafficRecord r;
    r.Kind = TRecordKind::Reply;
    r.Bytes = {Byte};
    r.Cause = Cause;
    r.LatencyUs = LatencyUs;
    return r;
}

// A message, its answer (none: 0), and what the machine sent next.
struct TCase {
    const char* Name;
    std::uint8_t Answer;
    std::uint8_t NextHeader;
    Bytes NextData;
    TRule Rule;
    bool Broken;
    const char* Found;
};

TEST(VerdictTest, EachAnswerIsJudgedByItsOwnRule) {
    const Bytes data = {0x00, 0x64};
    for (const TCase& c : {
             TCase{"nak, resent", kNak, 0xE9, data, ruResendAfterNak, false, "resent"},
             TCase{"nak, no bit 7", kNak, 0x69, data, ruResendAfterNak, true,
                   "resent without the repeat bit"},
             TCase{"nak, other data", kNak, 0xE9, {0x00, 0x65}, ruResendAfterNak, true,
                   "resent with other data"},
             TCase{"nak, gave up", kNak, 0x20, {}, ruResendAfterNak, true,
                   "moved on without resending (gave up)"},
             TCase{"silence, resent", 0, 0xE9, data, ruResendAfterSilence, false, "resent"},
             TCase{"ack, new", kAck, 0x69, data, ruNoRepeatAfterAck, false, "a new message"},
             TCase{"ack, resent", kAck, 0xE9, data, ruNoRepeatAfterAck, true,
                   "resent an acknowledged message"},
             TCase{"esc, moved on", kEsc, 0x20, {}, ruNoResendAfterEsc, false, "did not resend"},
             TCase{"esc, resent", kEsc, 0xE9, data, ruNoResendAfterEsc, true, "resent after ESC"},
             TCase{"garbled, resent", 0x3F, 0xE9, data, ruCount, false, "resent"},
         }) {
        TVerdict v;
        std::vector<TJudgement> judged;
        v.OnJudged = [&](const TJudgement& J) { judged.push_back(J); };
        // The NAKs while waiting for a first message answer nothing.
        v.Judge(ReplyOf(kNak, rcFirstMessageNak));
        v.Judge(FrameOf(0x69, data, 1'000'000));
        if (c.Answer) v.Judge(ReplyOf(c.Answer));
        v.Judge(FrameOf(c.NextHeader, c.NextData, 2'000'000));
        ASSERT_EQ(judged.size(), 1u) << c.Name;
        EXPECT_EQ(judged[0].Rule, c.Rule) << c.Name;
        EXPECT_EQ(judged[0].Broken, c.Broken) << c.Name;
        EXPECT_EQ(judged[0].Example.Found, c.Found) << c.Name;
        for (int r = 0; r < ruCount; ++r) {
            const auto rule = static_cast<TRule>(r);
            const TRuleStatus expected = rule == ruWholeFrames ? TRuleStatus::Pass
                                         : rule != c.Rule      ? TRuleStatus::NotYetSeen
                                         : c.Broken            ? TRuleStatus::Fail
                                                               : TRuleStatus::Pass;
            EXPECT_EQ(v.Status(rule), expected) << c.Name << ", rule " << r + 1;
        }
        if (c.Rule == ruResendAfterSilence) {
            EXPECT_EQ(v.ResendWaitUs().Count, 1u);
            EXPECT_EQ(v.ResendWaitUs().Max, 1'000'000);
        }
    }
}

TEST(VerdictTest, GivingUpAfterResendsIsAFigureAndBrokenFramesAreCounted) {
    TVerdict v;
    v.Judge(FrameOf(0x20, {}, 1, ffBadChecksum));
    v.Judge(ReplyOf(kNak, rcSilenceNak));
    v.Judge(FrameOf(0xA0, {}, 2));
    v.Judge(ReplyOf(kNak));
    v.Judge(FrameOf(0xA0, {}, 3));
    v.Judge(ReplyOf(kNak));
    v.Judge(FrameOf(0x21, {}, 4));
    EXPECT_EQ(v.Status(ruResendAfterNak), TRuleStatus::Pass);
    EXPECT_EQ(v[ruResendAfterNak].Judged, 3u);
    EXPECT_EQ(v.GaveUpAfter().Max, 2);
    EXPECT_EQ(v.Status(ruWholeFrames), TRuleStatus::Fail);
    EXPECT_EQ(v.FrameFaults(ffBadChecksum), 1u);
    ASSERT_EQ(v[ruWholeFrames].Examples.size(), 1u);
    EXPECT_EQ(v[ruWholeFrames].Examples[0].Found, "bad checksum");
}

TEST(VerdictTest, ALateAnswerToAnEarlierMessageAnswersNothing) {
    TVerdict v;
    v.Judge(FrameOf(0x20, {}, 1));
    v.Judge(ReplyOf(kAck, rcAnswer, -1));
    v.Judge(FrameOf(0x21, {}, 2));
    EXPECT_EQ(v.Status(ruNoRepeatAfterAck), TRuleStatus::NotYetSeen);
    EXPECT_EQ(v.Status(ruResendAfterSilence), TRuleStatus::NotYetSeen);
}

TEST(VerdictTest, AFirstMessageNakThatCrossesTheFrameLeavesItsAnswerInDoubt) {
    TVerdict v;
    TTrafficRecord nak = ReplyOf(kNak, rcFirstMessageNak);
    nak.MonoUs = 1'000'000;
    TTrafficRecord power = FrameOf(0x70, {0x01}, 1'000'300);
    power.FirstMonoUs = 999'950;
    v.Judge(nak);
    v.Judge(power);
    v.Judge(ReplyOf(kAck));
    v.Judge(FrameOf(0xF0, {0x01}, 1'001'000));
    EXPECT_EQ(v.Status(ruNoRepeatAfterAck), TRuleStatus::NotYetSeen)
        << "the machine got the NAK after it sent the frame, and resent it";
}

TEST(VerdictTest, TheBooksHoldTheTotalsCountedAgainstThoseExpected) {
    TVerdict v;
    EXPECT_TRUE(v.CheckBooks({{"in", 400}}, 1).empty()) << "nothing expected";
    EXPECT_EQ(v.Status(ruBooks), TRuleStatus::NotYetSeen);
    v.SetExpectedTotals({{"in", 500}, {"games", 3}});
    const auto wrong = v.CheckBooks({{"in", 400}, {"games", 3}}, 1);
    ASSERT_EQ(wrong.size(), 1u);
    EXPECT_EQ(wrong[0].Found, "in=400 counted");
    EXPECT_EQ(wrong[0].Expected, "in=500");
    EXPECT_EQ(v.Status(ruBooks), TRuleStatus::Fail);
    EXPECT_TRUE(v.CheckBooks({{"in", 500}, {"games", 3}}, 2).empty());
    EXPECT_EQ(v.Status(ruBooks), TRuleStatus::Pass);
}

TEST(ConformancePlanTest, ALineNotUnderstoodIsRefusedNamingItAndTheStandardRunReads) {
    for (const auto& [line, why] : std::vector<std::pair<const char*, const char*>>{
             {R"({"fault": {"kind": "nak"}, "wait": {"seconds": 1}})", "one of"},
             {R"({"fault": {"kind": "garbage"}})", "for the lab to say"},
             {R"({"fault": {"kind": "nak"}, "expect": "maybe"})", "expect is"},
             {R"({"watch": [6], "messages": 3})", "rules 1 to 5"},
             {R"({"wait": {"messages": 0}})", "whole number"},
             {R"({"totals": {"coins": 5}})", "not a total: coins"},
             {R"({"wait": {"seconds": 1}, "whithin_s": 3})", "unknown key \"whithin_s\""},
         }) {
        QString error;
        EXPECT_FALSE(ParsePlan(QByteArray("# a comment\n\n") + line, "run", error)) << line;
        EXPECT_TRUE(error.startsWith("run line 3: ")) << error.toStdString();
        EXPECT_TRUE(error.contains(QLatin1String(why))) << error.toStdString();
    }
    QString error;
    const auto standard = LoadPlan("standard", error);
    ASSERT_TRUE(standard) << error.toStdString();
    EXPECT_EQ(standard->Steps.front().Expect, TConformanceStep::exResend);
    EXPECT_EQ(standard->Steps.front().Fault.MaxFirings, 1) << "a fault step fires once";
}

class JudgeTest : public LabTest {};

TEST_F(JudgeTest, TheEngineIsJudgedFromItsRecordsAndBrokenRulesAreRecorded) {
    StartOnCom1();
    std::vector<std::int32_t> brokenEvents;
    QObject::connect(monitor.get(), &TMonitor::TrafficRecorded, [&](const TTrafficRecord& R) {
        if (R.Kind == TRecordKind::Event && R.Event == TLineEvent::RuleBroken)
            brokenEvents.push_back(R.Value);
    });
    TFaultRule esc;
    esc.Kind = TFaultKind::Esc;
    esc.MaxFirings = 1;
    lab->Faults()->Rules().Arm(esc);
    EXPECT_EQ(Exchange(0x20), kEsc);
    EXPECT_EQ(Exchange(0xA0), kAck) << "resent after ESC";
    EXPECT_EQ(Exchange(0x21), kAck);
    Settle();
    const QJsonObject reply = ControlRequest(*lab, {{"cmd", "verdict"}}).Body;
    const QJsonArray rules = reply.value("verdict").toObject().value("rules").toArray();
    ASSERT_EQ(rules.size(), ruCount);
    EXPECT_EQ(rules[ruResendAfterNak].toObject().value("status").toString(), "not yet seen");
    EXPECT_EQ(rules[ruNoResendAfterEsc].toObject().value("status").toString(), "fail");
    EXPECT_EQ(rules[ruNoRepeatAfterAck].toObject().value("status").toString(), "pass");
    EXPECT_EQ(rules[ruNoResendAfterEsc]
                  .toObject()
                  .value("examples")
                  .toArray()[0]
                  .toObject()
                  .value("found")
                  .toString(),
              "resent after ESC");
    EXPECT_EQ(brokenEvents, std::vector<std::int32_t>{ruNoResendAfterEsc + 1});
}

} // namespace
} // namespace volmar::testing

#include "lab/verdict.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>

#include "lab/faults.h"
#include "serial/tick_clock.h"

namespace volmar {

const std::array<TRuleName, ruCount> RuleNames = {{
    {"resend-after-nak", "Resend after a NAK"},
    {"resend-after-no-answer", "Resend after no answer"},
    {"no-resend-after-ack", "No resend after an ACK"},
    {"no-resend-after-esc", "No resend after an ESC"},
    {"whole-frames", "Whole frames"},
    {"books", "The books"},
}};

namespace {

constexpr char kSameAgain[] = "the same code and data again, with bit 7 set";

std::string Hex(const TRecordBytes& Bytes) {
    return HexBytes(Bytes.data(), static_cast<std::size_t>(Bytes.size()));
}

// The code, length and data: what a resend repeats while bit 7 and the
// checksum change.
bool SameMessage(const TRecordBytes& A, const TRecordBytes& B) {
    if (A.isEmpty() || B.isEmpty() || A.size() != B.size()) return false;
    if ((A[0] & 0x7F) != (B[0] & 0x7F)) return false;
    return std::equal(A.begin() + 1, A.end() - 1, B.begin() + 1);
}

bool SameCode(const TRecordBytes& A, const TRecordBytes& B) {
    return !A.isEmpty() && !B.isEmpty() && (A[0] & 0x7F) == (B[0] & 0x7F);
}

QJsonValue WallTime(std::int64_t Us) {
    if (Us == 0) return QJsonValue();
    return QDateTime::fromMSecsSinceEpoch(Us / 1000).toString(Qt::ISODateWithMs);
}

QJsonValue Milliseconds(std::int64_t Us) { return static_cast<double>(Us / 100) / 10.0; }

QJsonValue SpreadJson(const TVerdict::TSpread& S, bool InMs) {
    if (S.Count == 0) return QJsonValue();
    const auto value = [InMs](std::int64_t V) {
        return InMs ? Milliseconds(V) : QJsonValue(static_cast<qint64>(V));
    };
    return QJsonObject{{QStringLiteral("count"), static_cast<qint64>(S.Count)},
                       {QStringLiteral("min"), value(S.Min)},
                       {QStringLiteral("mean"),
                        value(S.Sum / static_cast<std::int64_t>(S.Count))},
                       {QStringLiteral("max"), value(S.Max)}};
}

} // namespace

const char* RuleStatusText(TRuleStatus Status) {
    switch (Status) {
    case TRuleStatus::NotYetSeen: return "not yet seen";
    case TRuleStatus::Pass: return "pass";
    case TRuleStatus::Fail: return "fail";
    }
    return "?";
}

std::int64_t TVerdict::GapLimitUs() {
    return static_cast<std::int64_t>(kInterCharTicks) * kMsPerTick * 1000;
}

void TVerdict::TSpread::Add(std::int64_t Value) {
    Min = Count == 0 ? Value : std::min(Min, Value);
    Max = Count == 0 ? Value : std::max(Max, Value);
    Sum += Value;
    ++Count;
}

TRuleStatus TVerdict::Status(TRule Rule) const {
    const TRuleState& s = FRules[Rule];
    if (s.Broken > 0) return TRuleStatus::Fail;
    return s.Judged > 0 ? TRuleStatus::Pass : TRuleStatus::NotYetSeen;
}

void TVerdict::Clear() {
    FRules = {};
    FLast = {};
    FFrames = 0;
    FGaveUpAfter = {};
    FResendWaitUs = {};
    FLargestGapUs = 0;
    FFirstMessageNakUs = -1;
    FFrameFaults = {};
}

void TVerdict::Judge(const TTrafficRecord& R) {
    switch (R.Kind) {
    case TRecordKind::Frame: Frame(R); break;
    case TRecordKind::Reply: Reply(R); break;
    case TRecordKind::Discarded: break;
    case TRecordKind::Event:
        if (R.Event == TLineEvent::FaultInjected && FLast.Open &&
            static_cast<TFaultKind>(R.Value) == TFaultKind::Delay)
            FLast.Delayed = true;
        // What came before these says nothing of what comes after.
        if (R.Event == TLineEvent::PortOpened || R.Event == TLineEvent::PortClosed ||
            R.Event == TLineEvent::DeviceLost || R.Event == TLineEvent::Reset ||
            R.Event == TLineEvent::SpeedChanged)
            FLast.Open = false;
        break;
    }
}

void TVerdict::Reply(const TTrafficRecord& R) {
    // The NAKs while waiting for a first message answer nothing the machine
    // sent, unless one crossed the frame coming in (see Frame).
    if (R.Cause == rcFirstMessageNak && !R.Dropped) FFirstMessageNakUs = R.MonoUs;
    if (!FLast.Open || R.Dropped || R.Bytes.isEmpty() || R.Cause == rcFirstMessageNak) return;
    // Put on the line after the fact (a late answer, garbage): a late
    // answer answers this message only when this message's was delayed.
    const bool afterTheFact = R.Cause == rcAnswer && R.LatencyUs < 0;
    if (afterTheFact && !(FLast.Delayed && FLast.Answer == anNone && R.Bytes[0] == kAck)) {
        FLast.Answer = anGarbled;
        return;
    }
    if (FLast.Answer != anNone) {
        // Bytes after the answer (garbage, or a late answer to another
        // message) spoil it.
        FLast.Answer = anGarbled;
        return;
    }
    switch (R.Bytes[0]) {
    case kAck: FLast.Answer = FLast.Delayed ? anLate : anAck; break;
    case kNak: FLast.Answer = anNak; break;
    case kEsc: FLast.Answer = anEsc; break;
    default: FLast.Answer = anGarbled; break;
    }
    if (R.Bytes.size() > 1) FLast.Answer = anGarbled;
}

void TVerdict::Frame(const TTrafficRecord& R) {
    FLargestGapUs = std::max(FLargestGapUs, R.MaxGapUs);
    if (R.Fault != ffLineError) {
        // A line error is the line's fault, not the machine's.
        const bool broken = R.Fault != ffNone;
        if (broken) ++FFrameFaults[R.Fault];
        Count(ruWholeFrames, broken,
              {R.WallUs, Hex(R.Bytes), broken ? FrameFaultName(R.Fault) : "",
               "a whole frame: a length of 1 to 20, the right checksum, no gap longer than " +
                   std::to_string(GapLimitUs() / 1000) + " ms"});
    }
    int resends = 0;
    ++FFrames;
    if (FLast.Open) {
        const TJudgement j = JudgeNext(R);
        if (j.Resend) resends = FLast.Resends + 1;
        if (OnJudged) OnJudged(j);
    }
    FLast = {};
    FLast.Open = true;
    FLast.Whole = R.Valid;
    FLast.Bytes = R.Bytes;
    FLast.MonoUs = R.MonoUs;
    FLast.Resends = resends;
    // A NAK sent while the frame was already on its way reaches the machine
    // after it sent the frame: it may take that NAK as the frame's answer,
    // so the frame's answer is in doubt and no rule judges what follows.
    const std::int64_t began = R.FirstMonoUs != 0 ? R.FirstMonoUs : R.MonoUs;
    if (FFirstMessageNakUs >= 0 && FFirstMessageNakUs >= began - GapLimitUs())
        FLast.Answer = anGarbled;
    FFirstMessageNakUs = -1;
}

TJudgement TVerdict::JudgeNext(const TTrafficRecord& Next) {
    TJudgement j;
    j.Message = FFrames - 1;
    const TExchange& p = FLast;
    j.WaitUs = Next.MonoUs - p.MonoUs;
    j.Example.WallUs = Next.WallUs;
    j.Example.Frames = Hex(p.Bytes) + "  then  " + Hex(Next.Bytes);
    // A broken frame tells its code at most.
    const bool same = p.Whole ? SameMessage(p.Bytes, Next.Bytes) : SameCode(p.Bytes, Next.Bytes);
    j.Resend = same && Next.Retry;
    switch (p.Answer) {
    case anNak:
    case anNone: {
        // A resend that arrived broken cannot be judged; its chain goes on.
        if (!Next.Valid) {
            j.Resend = SameCode(p.Bytes, Next.Bytes);
            return j;
        }
        j.Rule = p.Answer == anNak ? ruResendAfterNak : ruResendAfterSilence;
        j.Example.Expected = kSameAgain;
        if (j.Resend) {
            j.Example.Found = "resent";
            if (j.Rule == ruResendAfterSilence) FResendWaitUs.Add(j.WaitUs);
        } else if (same) {
            j.Broken = true;
            j.Example.Found = "resent without the repeat bit";
        } else if (Next.Retry && SameCode(p.Bytes, Next.Bytes)) {
            j.Broken = true;
            j.Example.Found = "resent with other data";
        } else if (p.Resends == 0) {
            j.Broken = true;
            j.Example.Found = "moved on without resending (gave up)";
        } else {
            j.Example.Found = "gave up after " + std::to_string(p.Resends) + " resends";
            FGaveUpAfter.Add(p.Resends);
        }
        break;
    }
    case anAck:
        if (!Next.Valid) return j;
        j.Rule = ruNoRepeatAfterAck;
        j.Example.Expected = "a new message, without bit 7";
        j.Broken = Next.Retry;
        j.Example.Found = j.Resend  ? "resent an acknowledged message"
                          : j.Broken ? "a new message with bit 7 set"
                                     : "a new message";
        break;
    case anEsc:
        if (!Next.Valid) return j;
        j.Rule = ruNoResendAfterEsc;
        j.Example.Expected = "no resend of the message refused";
        j.Broken = j.Resend;
        j.Example.Found = j.Broken ? "resent after ESC" : "did not resend";
        break;
    case anGarbled:
    case anLate:
        // The machine may take it as no answer: a resend is as right as moving on.
        j.Example.Found = j.Resend ? "resent" : "moved on";
        return j;
    }
    Count(j.Rule, j.Broken, j.Example);
    return j;
}

void TVerdict::Count(TRule Rule, bool Broken, const TRuleExample& Example) {
    TRuleState& s = FRules[Rule];
    ++s.Judged;
    if (!Broken) return;
    ++s.Broken;
    s.LastBrokenWallUs = Example.WallUs;
    if (s.Examples.size() < kExamplesKept) s.Examples.push_back(Example);
    if (OnBroken) OnBroken(Rule, Example);
}

void TVerdict::SetExpectedTotals(std::map<std::string, std::int64_t> Totals) {
    FExpected = std::move(Totals);
    FRules[ruBooks] = {};
}

std::vector<TRuleExample> TVerdict::CheckBooks(const std::map<std::string, std::int64_t>& Counted,
                                               std::int64_t WallUs) {
    std::vector<TRuleExample> wrong;
    if (FExpected.empty()) return wrong;
    TRuleState& s = FRules[ruBooks];
    s = {};
    s.Judged = 1;
    for (const auto& [name, expected] : FExpected) {
        const auto counted = Counted.find(name);
        const std::int64_t value = counted == Counted.end() ? 0 : counted->second;
        if (value == expected) continue;
        TRuleExample e{WallUs, {}, name + "=" + std::to_string(value) + " counted",
                       name + "=" + std::to_string(expected)};
        wrong.push_back(e);
        ++s.Broken;
        s.LastBrokenWallUs = WallUs;
        if (s.Examples.size() < kExamplesKept) s.Examples.push_back(e);
    }
    return wrong;
}

QJsonObject VerdictJson(const TVerdict& Verdict) {
    QJsonArray rules;
    for (int r = 0; r < ruCount; ++r) {
        const auto rule = static_cast<TRule>(r);
        const TRuleState& s = Verdict[rule];
        QJsonArray examples;
        for (const TRuleExample& e : s.Examples)
            examples.append(QJsonObject{{QStringLiteral("time"), WallTime(e.WallUs)},
                                        {QStringLiteral("frames"), QString::fromStdString(e.Frames)},
                                        {QStringLiteral("found"), QString::fromStdString(e.Found)},
                                        {QStringLiteral("expected"),
                                         QString::fromStdString(e.Expected)}});
        QJsonObject figures;
        switch (rule) {
        case ruResendAfterNak:
            figures.insert(QStringLiteral("gave-up-after-resends"),
                           SpreadJson(Verdict.GaveUpAfter(), false));
            break;
        case ruResendAfterSilence:
            figures.insert(QStringLiteral("wait-ms"), SpreadJson(Verdict.ResendWaitUs(), true));
            break;
        case ruWholeFrames:
            for (const auto& [fault, key] : {std::pair{ffBadChecksum, "bad-checksum"},
                                             std::pair{ffGap, "gap"},
                                             std::pair{ffOverLong, "over-long"},
                                             std::pair{ffZeroLength, "zero-length"}})
                figures.insert(QLatin1String(key),
                               static_cast<qint64>(Verdict.FrameFaults(fault)));
            figures.insert(QStringLiteral("largest-gap-ms"), Milliseconds(Verdict.LargestGapUs()));
            figures.insert(QStringLiteral("gap-limit-ms"), Milliseconds(TVerdict::GapLimitUs()));
            break;
        case ruBooks: {
            QJsonObject expected;
            for (const auto& [name, value] : Verdict.ExpectedTotals())
                expected.insert(QString::fromStdString(name), static_cast<qint64>(value));
            figures.insert(QStringLiteral("expected"), expected);
            break;
        }
        default: break;
        }
        QJsonObject o{{QStringLiteral("rule"), r + 1},
                      {QStringLiteral("key"), QLatin1String(RuleNames[rule].Key)},
                      {QStringLiteral("name"), QLatin1String(RuleNames[rule].Text)},
                      {QStringLiteral("status"), QLatin1String(RuleStatusText(Verdict.Status(rule)))},
                      {QStringLiteral("judged"), static_cast<qint64>(s.Judged)},
                      {QStringLiteral("broken"), static_cast<qint64>(s.Broken)},
                      {QStringLiteral("last-broken"), WallTime(s.LastBrokenWallUs)},
                      {QStringLiteral("examples"), examples}};
        if (!figures.isEmpty()) o.insert(QStringLiteral("figures"), figures);
        rules.append(o);
    }
    return {{QStringLiteral("rules"), rules}};
}

} // namespace volmar

#include "lab/conformance.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <cmath>

#include "lab/judge.h"
#include "lab/junit_report.h"
#include "lab/line_file.h"
#include "monitor/monitor.h"

namespace volmar {

namespace {

constexpr char kStandard[] = "standard";
const QStringList kStepKeys = {QStringLiteral("fault"), QStringLiteral("watch"),
                               QStringLiteral("wait"), QStringLiteral("totals")};

QString Ms(std::int64_t Us) { return QString::number(static_cast<double>(Us) / 1000, 'f', 1); }

// A bound in seconds: a number above 0 and at most a day.
std::optional<double> Seconds(const QJsonValue& Value, const char* Key, QString& Error) {
    const double s = Value.toDouble(-1);
    if (!Value.isDouble() || !(s > 0) || s > 86400) {
        Error = QStringLiteral("%1 is a number of seconds above 0, at most 86400").arg(QLatin1String(Key));
        return std::nullopt;
    }
    return s;
}

std::optional<int> Count(const QJsonValue& Value, const char* Key, QString& Error) {
    const double n = Value.toDouble(-1);
    if (!Value.isDouble() || n < 1 || n > 1000000 || n != std::floor(n)) {
        Error = QStringLiteral("%1 is a whole number from 1 to 1000000").arg(QLatin1String(Key));
        return std::nullopt;
    }
    return static_cast<int>(n);
}

// "messages" and/or "seconds" of a watch or a wait; one at least.
bool ReadSpan(const QJsonObject& O, TConformanceStep& Step, QString& Error) {
    if (O.contains(QStringLiteral("messages"))) {
        const auto n = Count(O.value(QStringLiteral("messages")), "messages", Error);
        if (!n) return false;
        Step.Messages = *n;
    }
    if (O.contains(QStringLiteral("seconds"))) {
        const auto s = Seconds(O.value(QStringLiteral("seconds")), "seconds", Error);
        if (!s) return false;
        Step.Seconds = *s;
    }
    if (Step.Messages == 0 && Step.Seconds == 0) {
        Error = QStringLiteral("give \"messages\" or \"seconds\"");
        return false;
    }
    return true;
}

bool Unknown(const QJsonObject& O, const QStringList& Known, QString& Error) {
    for (const QString& key : O.keys())
        if (!Known.contains(key)) {
            Error = QStringLiteral("unknown key \"%1\"").arg(key);
            return true;
        }
    return false;
}

std::optional<TConformanceStep> ParseStep(const QJsonObject& O, QString& Error) {
    TConformanceStep step;
    QStringList given;
    for (const QString& key : kStepKeys)
        if (O.contains(key)) given << key;
    if (given.size() != 1) {
        Error = QStringLiteral("a step has one of \"fault\", \"watch\", \"wait\" and \"totals\"");
        return std::nullopt;
    }
    QStringList known = {given.front(), QStringLiteral("name"), QStringLiteral("within_s")};
    if (O.contains(QStringLiteral("within_s"))) {
        const auto s = Seconds(O.value(QStringLiteral("within_s")), "within_s", Error);
        if (!s) return std::nullopt;
        step.WithinSeconds = *s;
    }
    step.Name = O.value(QStringLiteral("name")).toString();
    const QJsonValue value = O.value(given.front());
    if (given.front() == QLatin1String("fault")) {
        step.Kind = TConformanceStep::skFault;
        known << QStringLiteral("expect");
        if (!value.isObject()) {
            Error = QStringLiteral("fault is a fault: {\"kind\": ...}");
            return std::nullopt;
        }
        const std::optional<TFaultRule> rule = FaultFromJson(value.toObject(), Error);
        if (!rule) return std::nullopt;
        step.Fault = *rule;
        // One message is judged: the fault fires once.
        step.Fault.MaxFirings = 1;
        step.Fault.ForSeconds = 0;
        const TFaultKind kind = rule->Kind;
        if (kind == TFaultKind::NoFirstNaks) {
            Error = QStringLiteral("no-first-naks answers no message, so there is nothing to judge");
            return std::nullopt;
        }
        const QString expect = O.value(QStringLiteral("expect")).toString();
        if (expect == QLatin1String("resend"))
            step.Expect = TConformanceStep::exResend;
        else if (expect == QLatin1String("no-resend"))
            step.Expect = TConformanceStep::exNoResend;
        else if (expect == QLatin1String("any"))
            step.Expect = TConformanceStep::exAny;
        else if (O.contains(QStringLiteral("expect")) || kind == TFaultKind::WrongByte ||
                 kind == TFaultKind::Garbage) {
            Error = QStringLiteral("expect is \"resend\", \"no-resend\" or \"any\"%1")
                        .arg(O.contains(QStringLiteral("expect"))
                                 ? QString()
                                 : QStringLiteral(": what the machine does about %1 is for the "
                                                  "lab to say")
                                       .arg(QLatin1String(FaultKindKey(kind))));
            return std::nullopt;
        } else {
            step.Expect = kind == TFaultKind::Esc ? TConformanceStep::exNoResend
                                                  : TConformanceStep::exResend;
        }
        if (step.Name.isEmpty()) step.Name = FaultText(step.Fault);
    } else if (given.front() == QLatin1String("watch")) {
        step.Kind = TConformanceStep::skWatch;
        known << QStringLiteral("messages") << QStringLiteral("seconds");
        const QJsonArray rules = value.toArray();
        for (const QJsonValue& r : rules) {
            const int n = r.toInt(0);
            if (!r.isDouble() || n < 1 || n > ruBooks) {
                Error = QStringLiteral("watch is a list of rules 1 to 5, e.g. [3, 5]");
                return std::nullopt;
            }
            step.Rules.push_back(static_cast<TRule>(n - 1));
        }
        if (step.Rules.empty()) {
            Error = QStringLiteral("watch is a list of rules 1 to 5, e.g. [3, 5]");
            return std::nullopt;
        }
        if (!ReadSpan(O, step, Error)) return std::nullopt;
        if (step.Name.isEmpty()) {
            QStringList names;
            for (TRule r : step.Rules) names << QString::fromLatin1(RuleNames[r].Text).toLower();
            step.Name = QStringLiteral("watch: ") + names.join(QStringLiteral(", "));
        }
    } else if (given.front() == QLatin1String("wait")) {
        step.Kind = TConformanceStep::skWait;
        if (!value.isObject()) {
            Error = QStringLiteral("wait is {\"messages\": N} or {\"seconds\": S}");
            return std::nullopt;
        }
        if (Unknown(value.toObject(), {QStringLiteral("messages"), QStringLiteral("seconds")},
                    Error) ||
            !ReadSpan(value.toObject(), step, Error))
            return std::nullopt;
        if (step.Name.isEmpty()) step.Name = QStringLiteral("wait");
    } else {
        step.Kind = TConformanceStep::skTotals;
        const auto totals = ExpectedTotals(value, Error);
        if (!totals) return std::nullopt;
        step.Totals = *totals;
        if (step.Name.isEmpty()) step.Name = QStringLiteral("the books");
    }
    if (Unknown(O, known, Error)) return std::nullopt;
    return step;
}

} // namespace

const char* OutcomeText(TStepResult::TOutcome Outcome) {
    switch (Outcome) {
    case TStepResult::Passed: return "passed";
    case TStepResult::Failed: return "failed";
    case TStepResult::Error: return "error";
    }
    return "?";
}

QJsonObject RunJson(const TConformanceRun& Run) {
    QJsonArray steps;
    for (std::size_t i = 0; i < Run.Plan().Steps.size(); ++i) {
        QJsonObject o{{QStringLiteral("name"), Run.Plan().Steps[i].Name}};
        if (i < Run.Results().size()) {
            const TStepResult& r = Run.Results()[i];
            o.insert(QStringLiteral("outcome"), QLatin1String(OutcomeText(r.Outcome)));
            o.insert(QStringLiteral("message"), r.Message);
            o.insert(QStringLiteral("detail"), r.Detail);
            o.insert(QStringLiteral("seconds"), r.Seconds);
        } else {
            o.insert(QStringLiteral("outcome"), Run.Ended() ? QStringLiteral("skipped")
                                                            : QStringLiteral("pending"));
        }
        steps.append(o);
    }
    return {{QStringLiteral("run"), Run.Plan().Name},
            {QStringLiteral("ended"), Run.Ended()},
            {QStringLiteral("passed"), Run.Passed()},
            {QStringLiteral("steps"), steps}};
}

std::optional<TConformancePlan> ParsePlan(const QByteArray& Text, const QString& Name,
                                          QString& Error) {
    TConformancePlan plan;
    plan.Name = Name;
    const auto take = [&plan](const QJsonObject& Object, int Line, QString& Why) {
        std::optional<TConformanceStep> step = ParseStep(Object, Why);
        if (!step) return false;
        step->Line = Line;
        plan.Steps.push_back(std::move(*step));
        return true;
    };
    if (!TakeJsonLines(Text, Name, take, Error)) return std::nullopt;
    if (plan.Steps.empty()) {
        Error = QStringLiteral("%1 has no steps").arg(Name);
        return std::nullopt;
    }
    return plan;
}

QByteArray StandardPlanText() {
    QFile file(QStringLiteral(":/conformance/standard.jsonl"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<TConformancePlan> LoadPlan(const QString& NameOrPath, QString& Error) {
    if (NameOrPath == QLatin1String(kStandard))
        return ParsePlan(StandardPlanText(), QLatin1String(kStandard), Error);
    const std::optional<QByteArray> text = ReadLineFile(NameOrPath, Error);
    if (!text) return std::nullopt;
    return ParsePlan(*text, QFileInfo(NameOrPath).completeBaseName(), Error);
}

TConformanceRun::TConformanceRun(TMonitor& Monitor, TFaults& Faults, TJudge& Judge,
                                 TConformancePlan Plan)
    : FMonitor(Monitor), FFaults(Faults), FJudge(Judge), FPlan(std::move(Plan)) {
    FBound.setSingleShot(true);
    connect(&FBound, &QTimer::timeout, this, &TConformanceRun::TimeUp);
}

TConformanceRun::~TConformanceRun() {
    if (FFaultId) FFaults.Disarm(FFaultId);
}

bool TConformanceRun::Passed() const {
    return Finished() && std::all_of(FResults.begin(), FResults.end(), [](const TStepResult& R) {
               return R.Outcome == TStepResult::Passed;
           });
}

void TConformanceRun::Start() {
    FStartedWallUs = WallMicroseconds();
    connect(&FMonitor, &TMonitor::TrafficRecorded, this, &TConformanceRun::Recorded);
    connect(&FJudge, &TJudge::Judged, this, &TConformanceRun::Judged);
    connect(&FJudge, &TJudge::Broken, this, &TConformanceRun::Broken);
    StartStep();
}

void TConformanceRun::Stop() {
    if (FEnded) return;
    FBound.stop();
    if (FFaultId) FFaults.Disarm(FFaultId);
    FFaultId = 0;
    Finish();
}

void TConformanceRun::Finish() {
    FEnded = true;
    disconnect(&FMonitor, nullptr, this, nullptr);
    disconnect(&FJudge, nullptr, this, nullptr);
    if (!FReportPath.isEmpty()) {
        try {
            WriteRunReports(*this, FJudge.Verdict(), FReportPath);
        } catch (const std::exception& Error) {
            FReportError = QString::fromLocal8Bit(Error.what());
        }
    }
    emit Done(Passed());
}

void TConformanceRun::StartStep() {
    if (FEnded) return;
    if (Finished()) {
        Finish();
        return;
    }
    const TConformanceStep& step = Step();
    FStepStartMs = QDateTime::currentMSecsSinceEpoch();
    FTarget = 0;
    FFired.clear();
    FMessages = 0;
    FBrokenSeen.clear();
    FRulesBefore.clear();
    for (int r = 0; r < ruCount; ++r) FRulesBefore.push_back(FJudge.Verdict()[static_cast<TRule>(r)]);
    switch (step.Kind) {
    case TConformanceStep::skFault: FFaultId = FFaults.Arm(step.Fault); break;
    case TConformanceStep::skTotals: {
        FJudge.SetExpectedTotals(step.Totals);
        FJudge.CheckBooks();
        const TRuleState& books = FJudge.Verdict()[ruBooks];
        QStringList wrong;
        for (const TRuleExample& e : books.Examples)
            wrong << QString::fromStdString(e.Found + ", expected " + e.Expected);
        if (books.Broken == 0)
            EndStep(TStepResult::Passed, QStringLiteral("the totals are those expected"));
        else
            EndStep(TStepResult::Failed, wrong.join(QStringLiteral("; ")),
                    wrong.join(QLatin1Char('\n')));
        return;
    }
    default: break;
    }
    const double bound = step.Kind != TConformanceStep::skFault && step.Seconds > 0
                             ? step.Seconds
                             : step.WithinSeconds;
    FBound.start(static_cast<int>(std::lround(bound * 1000)));
}

void TConformanceRun::EndStep(TStepResult::TOutcome Outcome, const QString& Message,
                              const QString& Detail) {
    FBound.stop();
    if (FFaultId) FFaults.Disarm(FFaultId);
    FFaultId = 0;
    TStepResult result{Outcome, Message, Detail,
                       static_cast<double>(QDateTime::currentMSecsSinceEpoch() - FStepStartMs) / 1000};
    FResults.push_back(std::move(result));
    emit StepDone(static_cast<int>(FResults.size()) - 1);
    // The next step starts once the record that ended this one is told to all.
    QTimer::singleShot(0, this, &TConformanceRun::StartStep);
}

void TConformanceRun::Recorded(const TTrafficRecord& R) {
    if (Finished() || !FBound.isActive()) return;
    const TConformanceStep& step = Step();
    if (step.Kind == TConformanceStep::skFault) {
        if (FTarget == 0 && R.Kind == TRecordKind::Event && R.Event == TLineEvent::FaultInjected &&
            static_cast<TFaultKind>(R.Value) == step.Fault.Kind) {
            // A refusal is decided before its message is recorded, the
            // others once it is.
            const bool before = step.Fault.Kind == TFaultKind::Nak || step.Fault.Kind == TFaultKind::Esc;
            FTarget = FJudge.Verdict().Frames() + (before ? 1 : 0);
            FFired = QString::fromStdString(R.Detail);
            // The machine has this long again to answer it.
            FBound.start(static_cast<int>(std::lround(step.WithinSeconds * 1000)));
        }
        return;
    }
    // Messages: frames that arrived whole.
    if (R.Kind != TRecordKind::Frame || !R.Valid) return;
    ++FMessages;
    if (step.Messages == 0 || FMessages < step.Messages) return;
    if (step.Kind == TConformanceStep::skWatch)
        EndWatch();
    else
        EndStep(TStepResult::Passed, QStringLiteral("%1 messages came").arg(FMessages));
}

void TConformanceRun::Judged(const TJudgement& J) {
    if (Finished() || !FBound.isActive() || Step().Kind != TConformanceStep::skFault ||
        FTarget == 0 || J.Message != FTarget)
        return;
    const TConformanceStep& step = Step();
    const QString found = QString::fromStdString(J.Example.Found);
    const QString detail =
        QStringLiteral("fault: %1\nframes: %2\nfound: %3\nexpected: %4\nnext frame %5 ms after "
                       "the message (end to end)")
            .arg(FFired, QString::fromStdString(J.Example.Frames), found,
                 step.Expect == TConformanceStep::exResend     ? QStringLiteral("a resend: the same code and data with bit 7 set")
                 : step.Expect == TConformanceStep::exNoResend ? QStringLiteral("no resend")
                                                               : QStringLiteral("a resend or a new message"),
                 Ms(J.WaitUs));
    const bool passed = step.Expect == TConformanceStep::exAny ||
                        (step.Expect == TConformanceStep::exResend ? J.Resend && !J.Broken
                                                                   : !J.Resend);
    EndStep(passed ? TStepResult::Passed : TStepResult::Failed,
            QStringLiteral("%1 after %2 ms").arg(found, Ms(J.WaitUs)), detail);
}

void TConformanceRun::Broken(TRule Rule, const TRuleExample& Example) {
    if (Finished() || !FBound.isActive() || Step().Kind != TConformanceStep::skWatch) return;
    const std::vector<TRule>& rules = Step().Rules;
    if (std::find(rules.begin(), rules.end(), Rule) == rules.end()) return;
    FBrokenSeen << QStringLiteral("rule %1 (%2): %3: %4; expected %5")
                       .arg(Rule + 1)
                       .arg(QLatin1String(RuleNames[Rule].Text),
                            QString::fromStdString(Example.Found),
                            QString::fromStdString(Example.Frames),
                            QString::fromStdString(Example.Expected));
}

void TConformanceRun::EndWatch() {
    std::uint64_t judged = 0;
    for (TRule r : Step().Rules) judged += FJudge.Verdict()[r].Judged - FRulesBefore[r].Judged;
    if (!FBrokenSeen.isEmpty())
        EndStep(TStepResult::Failed,
                QStringLiteral("broken %1 times in %2 messages, first: %3")
                    .arg(FBrokenSeen.size())
                    .arg(FMessages)
                    .arg(FBrokenSeen.front()),
                FBrokenSeen.join(QLatin1Char('\n')));
    else if (judged == 0)
        EndStep(TStepResult::Error,
                QStringLiteral("no opportunity came in %1 messages: nothing was judged").arg(FMessages));
    else
        EndStep(TStepResult::Passed,
                QStringLiteral("kept in %1 messages, judged %2 times").arg(FMessages).arg(judged));
}

void TConformanceRun::TimeUp() {
    const TConformanceStep& step = Step();
    const QString bound = QString::number(step.WithinSeconds);
    switch (step.Kind) {
    case TConformanceStep::skFault:
        if (FTarget == 0)
            EndStep(TStepResult::Error,
                    QStringLiteral("not judged: no message of codes %1 came within %2 s, so the "
                                   "fault never fired")
                        .arg(CodeListText(step.Fault.Codes), bound));
        else
            EndStep(TStepResult::Error,
                    QStringLiteral("not judged: the machine sent nothing after the fault within %1 s")
                        .arg(bound),
                    QStringLiteral("fault: ") + FFired);
        break;
    case TConformanceStep::skWatch: EndWatch(); break;
    case TConformanceStep::skWait:
        if (step.Messages > 0 && FMessages < step.Messages)
            EndStep(TStepResult::Error, QStringLiteral("only %1 of %2 messages came within %3 s")
                                            .arg(FMessages)
                                            .arg(step.Messages)
                                            .arg(step.Seconds > 0 ? step.Seconds : step.WithinSeconds));
        else
            EndStep(TStepResult::Passed, QStringLiteral("waited, %1 messages came").arg(FMessages));
        break;
    case TConformanceStep::skTotals: break;
    }
}

} // namespace volmar

// Conformance runs: a list of steps, each arming one fault for the next
// message and judging what the machine does about it, or watching some
// rules over a number of messages, or waiting, or holding the totals
// against those expected. A run file has one JSON object a line ('#'
// starts a comment line); the README describes each step.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lab/faults.h"
#include "lab/verdict.h"

namespace volmar {

class TJudge;
class TMonitor;

struct TConformanceStep {
    enum TKind : std::uint8_t { skFault, skWatch, skWait, skTotals };
    // What a fault step expects of the machine.
    enum TExpect : std::uint8_t { exResend, exNoResend, exAny };
    TKind Kind = skWait;
    QString Name;
    int Line = 0;
    TFaultRule Fault;
    TExpect Expect = exResend;
    std::vector<TRule> Rules;
    int Messages = 0;
    double Seconds = 0;
    double WithinSeconds = 20;
    std::map<std::string, std::int64_t> Totals;
};

struct TConformancePlan {
    QString Name; // the file's base name, or "standard"
    std::vector<TConformanceStep> Steps;
};

// Reads a run file's text; Error names the line and what is wrong with it.
std::optional<TConformancePlan> ParsePlan(const QByteArray& Text, const QString& Name,
                                          QString& Error);
// "standard": the run shipped with the program; anything else a file's path.
std::optional<TConformancePlan> LoadPlan(const QString& NameOrPath, QString& Error);
// The standard run's text.
QByteArray StandardPlanText();

struct TStepResult {
    enum TOutcome : std::uint8_t { Passed, Failed, Error };
    TOutcome Outcome = Error;
    QString Message; // in a line: what the machine did, or why it was not judged
    QString Detail;  // the frames and times that show it
    double Seconds = 0;
};
// "passed", "failed", "error"
const char* OutcomeText(TStepResult::TOutcome Outcome);

class TConformanceRun;
// The run as the control socket tells it: each step with its outcome
// ("pending" for one not yet ended).
QJsonObject RunJson(const TConformanceRun& Run);

// A run against the machine on the line, step after step, on the engine's
// thread; it needs the faults and the judge beside the engine.
class TConformanceRun : public QObject {
    Q_OBJECT
public:
    TConformanceRun(TMonitor& Monitor, TFaults& Faults, TJudge& Judge, TConformancePlan Plan);
    ~TConformanceRun() override;

    // Where the JUnit report goes (the text report beside it), written
    // when the run ends; empty: none.
    void SetReportPath(const QString& JUnitPath) { FReportPath = JUnitPath; }
    void Start();
    // Ends the run where it is, the step under way and those after it not
    // taken, and writes the reports; nothing once it has ended.
    void Stop();
    // Why the reports could not be written; empty when they were.
    const QString& ReportError() const { return FReportError; }
    const TConformancePlan& Plan() const { return FPlan; }
    const std::vector<TStepResult>& Results() const { return FResults; }
    bool Finished() const { return FResults.size() == FPlan.Steps.size(); }
    // Finished or stopped; its reports are written.
    bool Ended() const { return FEnded; }
    bool Passed() const;
    std::int64_t StartedWallUs() const { return FStartedWallUs; }

signals:
    void StepDone(int Index);
    void Done(bool Passed);

private:
    void StartStep();
    void Finish();
    void EndStep(TStepResult::TOutcome Outcome, const QString& Message, const QString& Detail = {});
    void Recorded(const TTrafficRecord& Record);
    void Judged(const TJudgement& Judgement);
    void Broken(TRule Rule, const TRuleExample& Example);
    void TimeUp();
    void EndWatch();
    const TConformanceStep& Step() const { return FPlan.Steps[FResults.size()]; }

    TMonitor& FMonitor;
    TFaults& FFaults;
    TJudge& FJudge;
    TConformancePlan FPlan;
    QString FReportPath;
    QString FReportError;
    std::vector<TStepResult> FResults;
    bool FEnded = false;
    std::int64_t FStartedWallUs = 0;
    qint64 FStepStartMs = 0;
    QTimer FBound;
    // A fault step: its fault, and the message it fired on (0: not yet).
    int FFaultId = 0;
    std::uint64_t FTarget = 0;
    QString FFired;
    // A watch or wait step: messages seen, and the rules' state at its start.
    int FMessages = 0;
    std::vector<TRuleState> FRulesBefore;
    QStringList FBrokenSeen;
};

} // namespace volmar

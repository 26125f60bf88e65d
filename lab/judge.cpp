#include "lab/judge.h"

#include "lab/report.h"
#include "monitor/monitor.h"

namespace volmar {

namespace {

void RecordBroken(TMonitor& Monitor, TRule Rule, const TRuleExample& Example) {
    std::string detail = Example.Found;
    if (!Example.Frames.empty()) detail += ": " + Example.Frames;
    detail += "; expected " + Example.Expected;
    Monitor.Record(EventRecord(TLineEvent::RuleBroken, Rule + 1, std::move(detail)));
}

} // namespace

std::optional<std::map<std::string, std::int64_t>> ExpectedTotals(const QJsonValue& Value,
                                                                  QString& Error) {
    if (!Value.isObject()) {
        Error = QStringLiteral("totals are {name: value, ...}, e.g. {\"in\": 500, \"games\": 3}");
        return std::nullopt;
    }
    std::map<std::string, std::int64_t> totals;
    const QJsonObject given = Value.toObject();
    for (auto it = given.begin(); it != given.end(); ++it) {
        bool known = false;
        for (int i = 1; i <= kTotalCount; ++i) known = known || it.key() == QLatin1String(TotalKey(i));
        const double number = it.value().toDouble(-1);
        if (!known) {
            Error = QStringLiteral("not a total: ") + it.key();
            return std::nullopt;
        }
        if (!it.value().isDouble() || number < 0 || number > 9.0e15 ||
            number != static_cast<double>(static_cast<std::int64_t>(number))) {
            Error = it.key() + QStringLiteral(": a total is a whole number, 0 or more");
            return std::nullopt;
        }
        totals[it.key().toStdString()] = static_cast<std::int64_t>(number);
    }
    return totals;
}

std::map<std::string, std::int64_t> CountedTotals(TMonitor& Monitor) {
    std::map<std::string, std::int64_t> totals;
    const QJsonObject json = TotalsJson(Monitor.Counters());
    for (auto it = json.begin(); it != json.end(); ++it)
        totals[it.key().toStdString()] = it.value().toInteger();
    return totals;
}

TJudge::TJudge(TMonitor& Monitor) : FMonitor(Monitor) {
    // Judged on the engine's thread as each record is made, after its
    // answer is on the line; the event is recorded after the record that
    // broke the rule, not inside it.
    FVerdict.OnBroken = [this](TRule Rule, const TRuleExample& Example) {
        emit Broken(Rule, Example);
        QMetaObject::invokeMethod(
            this, [this, Rule, Example] { RecordBroken(FMonitor, Rule, Example); },
            Qt::QueuedConnection);
    };
    FVerdict.OnJudged = [this](const TJudgement& J) { emit Judged(J); };
    connect(&Monitor, &TMonitor::TrafficRecorded, this,
            [this](const TTrafficRecord& Record) { FVerdict.Judge(Record); });
}

void TJudge::Clear() {
    FVerdict.Clear();
    FBooksFinding.clear();
}

void TJudge::SetExpectedTotals(std::map<std::string, std::int64_t> Totals) {
    FVerdict.SetExpectedTotals(std::move(Totals));
    FBooksFinding.clear();
}

std::size_t TJudge::CheckBooks() {
    const std::vector<TRuleExample> wrong =
        FVerdict.CheckBooks(CountedTotals(FMonitor), WallMicroseconds());
    TRuleExample all;
    for (const TRuleExample& e : wrong) {
        all.Found += (all.Found.empty() ? "" : ", ") + e.Found;
        all.Expected += (all.Expected.empty() ? "" : ", ") + e.Expected;
    }
    if (all.Found != FBooksFinding && !wrong.empty()) {
        emit Broken(ruBooks, all);
        RecordBroken(FMonitor, ruBooks, all);
    }
    FBooksFinding = all.Found;
    return wrong.size();
}

QJsonObject TJudge::Json() {
    CheckBooks();
    return VerdictJson(FVerdict);
}

} // namespace volmar

// TJudge: the verdict on the machine, kept all the time from the engine's
// records beside it. Each broken rule is also recorded as an event (the
// capture keeps it); the books are held against the totals on request.
#pragma once

#include <QJsonObject>
#include <QObject>

#include <QJsonValue>
#include <QString>

#include <map>
#include <optional>
#include <string>

#include "lab/verdict.h"

namespace volmar {

class TMonitor;

class TJudge : public QObject {
    Q_OBJECT
public:
    explicit TJudge(TMonitor& Monitor);

    const TVerdict& Verdict() const { return FVerdict; }
    void Clear();
    void SetExpectedTotals(std::map<std::string, std::int64_t> Totals);
    // Holds the totals counted now against those expected, and records
    // the totals that differ as broken; the number that differ.
    std::size_t CheckBooks();
    // The verdict with the books checked now.
    QJsonObject Json();

signals:
    void Judged(const volmar::TJudgement& Judgement);
    void Broken(volmar::TRule Rule, const volmar::TRuleExample& Example);

private:
    TMonitor& FMonitor;
    TVerdict FVerdict;
    // The books' last finding, recorded once until it changes.
    std::string FBooksFinding;
};

// Expected totals as JSON ({"in": 500, "games": 3}): each a total's name
// and a whole number; Error says what is wrong when it is not.
std::optional<std::map<std::string, std::int64_t>> ExpectedTotals(const QJsonValue& Value,
                                                                  QString& Error);

// The totals by the names the control socket and the exports use.
std::map<std::string, std::int64_t> CountedTotals(TMonitor& Monitor);

} // namespace volmar

// The engine's books as data: totals, per-code counts, the line's error
// counters, the machine's identity and the event log, for the control
// socket and for the export files (CSV and JSON).
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <array>

namespace volmar {

class TMonitor;
struct TCounters;
class TJudge;
class TStatistics;

// A total's name by meter index 1..10 ("in" .. "credits-taken").
inline constexpr int kTotalCount = 10;
const char* TotalKey(int MeterIndex);
// The speed modes by TSpeedMode, as the control socket and the capture name them.
inline constexpr std::array<const char*, 3> kSpeedModeNames = {"auto", "1200", "9600"};

QJsonObject TotalsJson(TCounters& Counters);
QJsonArray CountsJson(const TCounters& Counters);
QJsonObject IdentityJson(const TMonitor& Monitor);
// Each counter with its count and when it last moved (null: never), and
// since when they count.
QJsonObject StatisticsJson(const TStatistics& Statistics);
// The event log's rows, keyed by its column titles.
QJsonArray EventRowsJson(TMonitor& Monitor);

// Totals, counts, error counters, identity and the verdict, as one JSON
// document and as CSV rows "section,key,name,value,retries,last_moved";
// without Statistics (none kept) the error counters are left out, without
// Judge the verdict. The verdict's rows are, for each rule, its status
// (key: the rule's, last_moved: when it was last broken), and how often it
// was broken and judged (keys ending in -broken and -judged).
QJsonObject ReportJson(TMonitor& Monitor, const TStatistics* Statistics, TJudge* Judge = nullptr);
QByteArray ReportCsv(TMonitor& Monitor, const TStatistics* Statistics, TJudge* Judge = nullptr);
// The event log with its titles as the header row.
QByteArray EventLogCsv(TMonitor& Monitor);

// Base.csv, Base.json and Base-events.csv, in that order.
QStringList ExportPaths(const QString& Base);

// Writes Base.csv, Base.json and Base-events.csv, each whole or not at
// all; returns the paths written. Throws with the reason when one cannot be;
// a name taken by other than a regular file (a FIFO, a folder, a device)
// is refused, saying what it is, before any is written.
QStringList ExportReport(TMonitor& Monitor, const TStatistics* Statistics, const QString& Base,
                         TJudge* Judge = nullptr);

} // namespace volmar

#include "lab/report.h"

#include <QDateTime>
#include <QJsonDocument>

#include <array>
#include <filesystem>

#include "dataport/file_store.h"
#include "lab/judge.h"
#include "lab/statistics.h"
#include "monitor/monitor.h"

namespace volmar {

namespace {

QString Latin1(std::string_view Text) {
    return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}

// The ten totals by name, in meter-index order (1..10).
constexpr std::array<const char*, kTotalCount> kTotalNames = {
    "in",      "out",     "games", "stakes",            "wins",
    "cashbox", "refills", "dumps", "cancelled-credits", "credits-taken"};

constexpr std::array<const char*, 5> kIdentityNames = {
    "manufacturer", "version", "credit-value", "target-percent", "protocol-version"};

QString WallTime(std::int64_t Us) {
    return QDateTime::fromMSecsSinceEpoch(Us / 1000).toString(Qt::ISODateWithMs);
}

QByteArray CsvField(const QString& Text) {
    QByteArray field = Text.toUtf8();
    if (field.contains(',') || field.contains('"') || field.contains('\n') ||
        field.contains('\r')) {
        field.replace("\"", "\"\"");
        field = '"' + field + '"';
    }
    return field;
}

void CsvRow(QByteArray& Csv, const QStringList& Fields) {
    for (qsizetype i = 0; i < Fields.size(); ++i) {
        if (i) Csv += ',';
        Csv += CsvField(Fields[i]);
    }
    Csv += "\r\n";
}

void WriteWhole(const QString& Path, const QByteArray& Bytes) {
    ReplaceFile(Path.toStdString(), std::string_view(Bytes.constData(),
                                                     static_cast<std::size_t>(Bytes.size())));
}

} // namespace

const char* TotalKey(int MeterIndex) {
    return kTotalNames.at(static_cast<std::size_t>(MeterIndex - 1));
}

QJsonObject TotalsJson(TCounters& Counters) {
    QJsonObject totals;
    for (std::size_t i = 0; i < kTotalNames.size(); ++i)
        totals.insert(QLatin1String(kTotalNames[i]),
                      *MeterTotal(Counters, static_cast<int>(i) + 1));
    return totals;
}

QJsonArray CountsJson(const TCounters& Counters) {
    QJsonArray counts;
    for (int code = 0; code < 128; ++code)
        counts.append(QJsonObject{{QStringLiteral("code"), code},
                                  {QStringLiteral("name"), Latin1(DPMessageNames[code])},
                                  {QStringLiteral("messages"), Counters.Codes[code].Messages},
                                  {QStringLiteral("retries"), Counters.Codes[code].Retries}});
    return counts;
}

QJsonObject IdentityJson(const TMonitor& Monitor) {
    QJsonObject identity;
    for (std::size_t i = 0; i < kIdentityNames.size(); ++i)
        identity.insert(QLatin1String(kIdentityNames[i]),
                        Latin1(Monitor.IdentityText(static_cast<TIdentityLabel>(i))));
    return identity;
}

QJsonObject StatisticsJson(const TStatistics& Statistics) {
    QJsonObject counters;
    for (int k = 0; k < stKindCount; ++k) {
        const TStatistics::TEntry& e = Statistics[static_cast<TStatKind>(k)];
        counters.insert(QLatin1String(StatNames[static_cast<std::size_t>(k)].Key),
                        QJsonObject{{QStringLiteral("count"), static_cast<qint64>(e.Count)},
                                    {QStringLiteral("last"), e.LastWallUs ? QJsonValue(WallTime(e.LastWallUs))
                                                                          : QJsonValue()}});
    }
    return {{QStringLiteral("since"), WallTime(Statistics.SinceWallUs())},
            {QStringLiteral("counters"), counters}};
}

QJsonArray EventRowsJson(TMonitor& Monitor) {
    const TStringGrid& grid = Monitor.Logs().Events;
    QJsonArray rows;
    // Row 0 holds the titles.
    for (int r = 1; r < grid.RowCount(); ++r) {
        QJsonObject row;
        for (int c = 0; c < kEventGridCols; ++c)
            row.insert(Latin1(EventGridTitles[static_cast<std::size_t>(c)]),
                       Latin1(grid.Cell(c, r)));
        rows.append(row);
    }
    return rows;
}

QJsonObject ReportJson(TMonitor& Monitor, const TStatistics* Statistics, TJudge* Judge) {
    QJsonObject report = {
        {QStringLiteral("exported"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
        {QStringLiteral("totals"), TotalsJson(Monitor.Counters())},
        {QStringLiteral("counts"), CountsJson(Monitor.Counters())},
        {QStringLiteral("identity"), IdentityJson(Monitor)}};
    if (Statistics) report.insert(QStringLiteral("statistics"), StatisticsJson(*Statistics));
    if (Judge) report.insert(QStringLiteral("verdict"), Judge->Json());
    return report;
}

QByteArray ReportCsv(TMonitor& Monitor, const TStatistics* Statistics, TJudge* Judge) {
    QByteArray csv;
    CsvRow(csv, {"section", "key", "name", "value", "retries", "last_moved"});
    const TCounters& counters = Monitor.Counters();
    for (std::size_t i = 0; i < kTotalNames.size(); ++i)
        CsvRow(csv, {"total", kTotalNames[i], kTotalNames[i],
                     QString::number(*MeterTotal(Monitor.Counters(), static_cast<int>(i) + 1)),
                     {}, {}});
    for (int code = 0; code < 128; ++code)
        CsvRow(csv, {"code", QStringLiteral("%1").arg(code, 2, 16, QLatin1Char('0')),
                     Latin1(DPMessageNames[code]), QString::number(counters.Codes[code].Messages),
                     QString::number(counters.Codes[code].Retries), {}});
    for (int k = 0; Statistics && k < stKindCount; ++k) {
        const TStatistics::TEntry& e = (*Statistics)[static_cast<TStatKind>(k)];
        const TStatName& name = StatNames[static_cast<std::size_t>(k)];
        CsvRow(csv, {"error", name.Key, name.Text, QString::number(e.Count), {},
                     e.LastWallUs ? WallTime(e.LastWallUs) : QString()});
    }
    for (std::size_t i = 0; i < kIdentityNames.size(); ++i)
        CsvRow(csv, {"identity", kIdentityNames[i], kIdentityNames[i],
                     Latin1(Monitor.IdentityText(static_cast<TIdentityLabel>(i))), {}, {}});
    if (Judge) Judge->CheckBooks();
    for (int r = 0; Judge && r < ruCount; ++r) {
        const auto rule = static_cast<TRule>(r);
        const TRuleState& s = Judge->Verdict()[rule];
        const QString key = QLatin1String(RuleNames[rule].Key);
        const QString name = QLatin1String(RuleNames[rule].Text);
        CsvRow(csv, {"verdict", key, name, RuleStatusText(Judge->Verdict().Status(rule)), {},
                     s.LastBrokenWallUs ? WallTime(s.LastBrokenWallUs) : QString()});
        CsvRow(csv, {"verdict", key + QStringLiteral("-broken"), name,
                     QString::number(s.Broken), {}, {}});
        CsvRow(csv, {"verdict", key + QStringLiteral("-judged"), name,
                     QString::number(s.Judged), {}, {}});
    }
    return csv;
}

QByteArray EventLogCsv(TMonitor& Monitor) {
    const TStringGrid& grid = Monitor.Logs().Events;
    QByteArray csv;
    for (int r = 0; r < grid.RowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < kEventGridCols; ++c) row << Latin1(grid.Cell(c, r));
        CsvRow(csv, row);
    }
    return csv;
}

QStringList ExportPaths(const QString& Base) {
    return {Base + QStringLiteral(".csv"), Base + QStringLiteral(".json"),
            Base + QStringLiteral("-events.csv")};
}

QStringList ExportReport(TMonitor& Monitor, const TStatistics* Statistics, const QString& Base,
                         TJudge* Judge) {
    const QStringList paths = ExportPaths(Base);
    for (const QString& path : paths) {
        std::error_code missing;
        const std::string name = path.toStdString();
        if (const auto type = std::filesystem::status(name, missing).type();
            !missing && type != std::filesystem::file_type::regular)
            throw EFileStoreError("Unable to write to " + name + ": it is " + FileTypeName(type));
    }
    WriteWhole(paths[0], ReportCsv(Monitor, Statistics, Judge));
    WriteWhole(paths[1], QJsonDocument(ReportJson(Monitor, Statistics, Judge))
                             .toJson(QJsonDocument::Indented));
    WriteWhole(paths[2], EventLogCsv(Monitor));
    return paths;
}

} // namespace volmar

#include "lab/metrics.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>

#include "dataport/message.h"
#include "lab/fault_driver.h"
#include "lab/judge.h"
#include "lab/lab.h"
#include "lab/line_watch.h"
#include "lab/report.h"
#include "monitor/monitor.h"
#include "serial/profile_file.h"

namespace volmar {

namespace {

constexpr char kMetrics[] = "Metrics";

// A label's value as the text format quotes it.
QByteArray Quoted(QByteArrayView Value) {
    QByteArray out = "\"";
    for (const char c : Value) {
        if (c == '\\' || c == '"') out += '\\';
        out += c == '\n' ? QByteArray("\\n") : QByteArray(1, c);
    }
    return out + '"';
}

// One family's lines: its help and type, then each sample as it is added.
class TFamily {
public:
    TFamily(QByteArray& Out, const char* Name, const char* Type, const char* Help,
            QByteArray Machine)
        : FOut(Out), FName(Name), FMachine(std::move(Machine)) {
        FOut += "# HELP " + FName + ' ' + Help + "\n# TYPE " + FName + ' ' + Type + '\n';
    }
    // Labels: ",name=\"value\"..." after the machine's.
    TFamily& Sample(const QByteArray& Value, const QByteArray& Labels = {},
                    const char* Suffix = "") {
        FOut += FName + Suffix + "{machine=" + FMachine + Labels + "} " + Value + '\n';
        return *this;
    }
    TFamily& Sample(std::int64_t Value, const QByteArray& Labels = {}, const char* Suffix = "") {
        return Sample(QByteArray::number(Value), Labels, Suffix);
    }

private:
    QByteArray& FOut;
    QByteArray FName;
    QByteArray FMachine;
};

QByteArray Label(const char* Name, QByteArrayView Value) {
    return QByteArray(",") + Name + '=' + Quoted(Value);
}

QByteArray Seconds(std::int64_t Us) { return QByteArray::number(static_cast<double>(Us) / 1e6, 'g', 12); }

const char* AnswerKind(int Byte) {
    switch (Byte) {
    case 0x06: return "ack";
    case 0x15: return "nak";
    case 0x1B: return "esc";
    default: return "other";
    }
}

} // namespace

std::optional<TMetricsAddress> ParseMetricsAddress(const QString& Text, QString& Error) {
    TMetricsAddress result;
    QString port = Text;
    const qsizetype colon = Text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        QString host = Text.left(colon);
        port = Text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        if (host.isEmpty() || !result.Address.setAddress(host)) {
            Error = QStringLiteral("not an IP address: %1").arg(host);
            return std::nullopt;
        }
    }
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number == 0 || number > 0xFFFF) {
        Error = QStringLiteral("the metrics are served at [ADDRESS:]PORT, PORT from 1 to 65535, "
                               "not %1")
                    .arg(Text);
        return std::nullopt;
    }
    result.Port = static_cast<quint16>(number);
    return result;
}

TMetrics::TMetrics(TLab& Lab, QString RunAddress)
    : FLab(Lab), FRunAddress(std::move(RunAddress)),
      FStartedS(QDateTime::currentSecsSinceEpoch()) {
    TMonitor& monitor = Lab.Monitor();
    monitor.AddSettingsPart(this);
    connect(&monitor, &TMonitor::StartedUp, this, [this] { Open(); });
    connect(&monitor, &TMonitor::ShutDownBegins, this, [this] {
        FServer.reset();
        FServing = {};
    });
}

TMetrics::~TMetrics() = default;

void TMetrics::Load(const TProfileFile& Ini) {
    FListen = FRunAddress.isEmpty()
                  ? QString::fromStdString(Ini.ReadString(kMetrics, "Listen", std::string()))
                  : FRunAddress;
    FName = QString::fromStdString(Ini.ReadString(kMetrics, "Name", std::string()));
    if (FName.isEmpty())
        FName = QFileInfo(FLab.Monitor().SettingsPath()).absoluteDir().dirName();
}

void TMetrics::Save(TProfileFile& /*Ini*/) const {}

void TMetrics::Open() {
    if (FListen.isEmpty() || FServer) return;
    TErrorReports& reports = FLab.Monitor().Reports();
    QString error;
    const std::optional<TMetricsAddress> address = ParseMetricsAddress(FListen, error);
    auto tcp = std::make_unique<QTcpServer>();
    if (address && !tcp->listen(address->Address, address->Port))
        error = QStringLiteral("the metrics cannot be served at %1: %2")
                    .arg(FListen, tcp->errorString());
    if (!error.isEmpty()) {
        FFailed = true;
        reports.ReportError(error);
        return;
    }
    FServer = std::make_unique<QHttpServer>();
    // Only this one page, and only to be read: every other request is refused.
    FServer->route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                                   Text());
    });
    FServer->bind(tcp.release());
    FServing = *address;
    TMonitor& monitor = FLab.Monitor();
    connect(&monitor, &TMonitor::TrafficRecorded, this, &TMetrics::Count);
    connect(&monitor, &TMonitor::BytesArrived, this, [this] { FLastByteWallUs = WallMicroseconds(); });
}

void TMetrics::Count(const TTrafficRecord& Record) {
    if (Record.Kind != TRecordKind::Reply || Record.Dropped || Record.Bytes.isEmpty()) return;
    ++FAnswers[{Record.Bytes.front(), Record.Cause}];
    if (Record.LatencyUs < 0) return;
    std::size_t bucket = 0;
    while (bucket < kLatencyBucketsUs.size() && Record.LatencyUs > kLatencyBucketsUs[bucket])
        ++bucket;
    ++FLatency[bucket];
    FLatencySumUs += Record.LatencyUs;
}

QByteArray TMetrics::Text() const {
    TMonitor& monitor = FLab.Monitor();
    const QByteArray machine = Quoted(FName.toUtf8());
    QByteArray out;
    out.reserve(16384);
    auto family = [&](const char* Name, const char* Type, const char* Help) {
        return TFamily(out, Name, Type, Help, machine);
    };

    family("volmarsim_info", "gauge", "The program's version; always 1.")
        .Sample(1, Label("version", QCoreApplication::applicationVersion().toUtf8()));
    family("volmarsim_start_time_seconds", "gauge",
           "When this copy started, in seconds since the epoch.")
        .Sample(FStartedS);

    TCounters& counters = monitor.Counters();
    TFamily meters = family("volmarsim_meter", "gauge",
                            "The machine's ten totals, as the counters file keeps them.");
    for (int i = 1; i <= 10; ++i) meters.Sample(*MeterTotal(counters, i), Label("total", TotalKey(i)));
    TFamily messages = family("volmarsim_messages_total", "counter",
                              "Messages counted, by code (two hex digits); codes never seen are left out.");
    for (int code = 0; code < 128; ++code)
        if (counters.Codes[code].Messages != 0)
            messages.Sample(counters.Codes[code].Messages,
                            Label("code", QByteArray::number(code, 16).rightJustified(2, '0')) +
                                Label("name", QByteArray::fromStdString(std::string(DPMessageNames[code]))));
    TFamily retries = family("volmarsim_retries_total", "counter",
                             "Retries counted, by code; codes never retried are left out.");
    for (int code = 0; code < 128; ++code)
        if (counters.Codes[code].Retries != 0)
            retries.Sample(counters.Codes[code].Retries,
                           Label("code", QByteArray::number(code, 16).rightJustified(2, '0')));

    TFamily answers = family("volmarsim_answers_total", "counter",
                             "Answers put on the line, by what they were and why they were sent.");
    for (const auto& [key, count] : FAnswers)
        answers.Sample(static_cast<std::int64_t>(count),
                       Label("kind", AnswerKind(key.first)) +
                           Label("cause", ReplyCauseName(static_cast<TReplyCause>(key.second))));

    TFamily latency = family("volmarsim_reply_latency_seconds", "histogram",
                             "Time from a frame's last byte to its answer going out.");
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= kLatencyBucketsUs.size(); ++i) {
        cumulative += FLatency[i];
        latency.Sample(static_cast<std::int64_t>(cumulative),
                       Label("le", i < kLatencyBucketsUs.size() ? Seconds(kLatencyBucketsUs[i])
                                                                 : QByteArray("+Inf")),
                       "_bucket");
    }
    latency.Sample(Seconds(FLatencySumUs), {}, "_sum");
    latency.Sample(static_cast<std::int64_t>(cumulative), {}, "_count");

    if (const TStatistics* statistics = FLab.Statistics()) {
        TFamily line = family("volmarsim_line_total", "counter",
                              "The Statistics page's counters of what went right and wrong on "
                              "the line, since the start or their last clearing.");
        for (int k = 0; k < stKindCount; ++k)
            line.Sample(static_cast<std::int64_t>((*statistics)[static_cast<TStatKind>(k)].Count),
                        Label("counter", StatNames[static_cast<std::size_t>(k)].Key));
    }

    family("volmarsim_port_open", "gauge", "1 while the port is open.")
        .Sample(monitor.ComPortPlus().Open() ? 1 : 0);
    if (const TLineWatch* watch = FLab.Watch())
        family("volmarsim_machine_silent", "gauge",
               "1 while the machine has sent nothing for the [Watchdog] section's seconds.")
            .Sample(watch->SilentSince().isEmpty() ? 0 : 1);
    family("volmarsim_last_byte_time_seconds", "gauge",
           "When the machine last sent a byte, in seconds since the epoch; 0: not yet.")
        .Sample(Seconds(FLastByteWallUs));
    if (TFaultDriver* faults = FLab.Faults())
        family("volmarsim_faults_armed", "gauge", "Faults armed on purpose.")
            .Sample(static_cast<std::int64_t>(faults->Rules().List().size()));
    if (TJudge* judge = FLab.Judge()) {
        const TVerdict& verdict = judge->Verdict();
        TFamily judged = family("volmarsim_rule_judged_total", "counter",
                                "Times the machine had a chance to keep a rule of the dataport.");
        TFamily broken = family("volmarsim_rule_broken_total", "counter",
                                "Times the machine broke a rule of the dataport.");
        for (int r = 0; r < ruCount; ++r) {
            const TRule rule = static_cast<TRule>(r);
            const QByteArray label = Label("rule", RuleNames[r].Key);
            judged.Sample(static_cast<std::int64_t>(verdict[rule].Judged), label);
            broken.Sample(static_cast<std::int64_t>(verdict[rule].Broken), label);
        }
    }
    return out;
}

} // namespace volmar

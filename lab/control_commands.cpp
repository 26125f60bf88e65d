#include "lab/control_commands.h"

#include <QJsonArray>

#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <map>
#include <optional>

#include "dataport/message.h"
#include "lab/capture.h"
#include "lab/conformance.h"
#include "lab/fault_driver.h"
#include "lab/judge.h"
#include "lab/lab.h"
#include "lab/line_watch.h"
#include "lab/report.h"
#include "monitor/monitor.h"

namespace volmar {

namespace {

using TReply = TControlServer::TReply;
using TCommand = std::function<TReply(TLab&, const QJsonObject&)>;

// Edit Meters holds eight totals of at most eight digits.
constexpr int kEditableTotals = 8;
constexpr std::int32_t kLargestEditable = 99999999;

// The chosen port's device; none when no port is chosen.
QString DevicePath(const TComPortPlus& Port) {
    return Port.ComNumber() == 0 ? QString() : QString::fromLocal8Bit(Port.DevicePath().c_str());
}

QJsonObject Status(TLab& Lab) {
    TMonitor& monitor = Lab.Monitor();
    TComPortPlus& port = monitor.ComPortPlus();
    const std::string_view receiver = DPStateNames[monitor.Volmar().State()];
    QJsonObject status = {
        {QStringLiteral("port"), port.ComNumber()},
        {QStringLiteral("device"), DevicePath(port)},
        {QStringLiteral("open"), port.Open()},
        {QStringLiteral("speed-mode"), QLatin1String(kSpeedModeNames[monitor.SpeedMode()])},
        {QStringLiteral("baud"), port.Baud()},
        {QStringLiteral("receiver"),
         QString::fromLatin1(receiver.data(), static_cast<qsizetype>(receiver.size()))},
        {QStringLiteral("values"),
         monitor.Interpreter().BCDValues() ? QStringLiteral("BCD") : QStringLiteral("Binary")},
        {QStringLiteral("identity"), IdentityJson(monitor)},
        {QStringLiteral("switches"), monitor.Switches()},
        {QStringLiteral("alert"), monitor.Reports().Alert()}};
    // A part left out of the run leaves its field out.
    if (const TLineWatch* watch = Lab.Watch())
        status.insert(QStringLiteral("silent-since"), watch->SilentSince());
    if (const TCapture* capture = Lab.Capture())
        status.insert(QStringLiteral("capture"), capture->Path());
    return status;
}

// A total as the socket takes it: a JSON number that is a whole 0..99999999,
// or a text of 1 to 8 digits; an empty text, like a cleared field, is 0.
// Anything else is refused, never read as 0: that would wipe the total.
bool EditableTotal(const QJsonValue& Value, std::int32_t& Total) {
    if (Value.isString()) {
        const QString text = Value.toString();
        if (text.size() > 8 || !std::all_of(text.begin(), text.end(), [](QChar c) {
                return c >= QLatin1Char('0') && c <= QLatin1Char('9');
            }))
            return false;
        Total = text.isEmpty() ? 0 : text.toInt();
        return true;
    }
    const double number = Value.toDouble(-1);
    if (!Value.isDouble() || number < 0 || number > kLargestEditable ||
        number != static_cast<double>(static_cast<std::int32_t>(number)))
        return false;
    Total = static_cast<std::int32_t>(number);
    return true;
}

// A request's switch such as "clear": false when it is left out, nothing
// when it is given as anything but true or false.
std::optional<bool> Flag(const QJsonObject& Request, const char* Key) {
    const QJsonValue value = Request.value(QLatin1String(Key));
    if (value.isUndefined()) return false;
    if (!value.isBool()) return std::nullopt;
    return value.toBool();
}

TReply NotAFlag(const char* Key) {
    return TControlServer::Error(QStringLiteral("%1 is true or false").arg(QLatin1String(Key)));
}

TReply SetTotals(TMonitor& Monitor, const QJsonObject& Request) {
    const QJsonValue given = Request.value(QStringLiteral("totals"));
    if (!given.isObject())
        return TControlServer::Error(
            QStringLiteral("set-totals needs \"totals\": {name: value, ...}"));
    std::vector<std::pair<int, std::int32_t>> edited;
    const QJsonObject totals = given.toObject();
    for (auto it = totals.begin(); it != totals.end(); ++it) {
        int index = 0;
        for (int i = 1; i <= kEditableTotals; ++i)
            if (it.key() == QLatin1String(TotalKey(i))) index = i;
        if (index == 0)
            return TControlServer::Error(QStringLiteral("not a total Edit Meters sets: ") +
                                         it.key());
        std::int32_t value = 0;
        if (!EditableTotal(it.value(), value))
            return TControlServer::Error(
                QStringLiteral("%1: a total is a whole number from 0 to 99999999, or a text of "
                               "1 to 8 digits")
                    .arg(it.key()));
        edited.emplace_back(index, value);
    }
    Monitor.SetTotals(edited);
    return TControlServer::Ok({{QStringLiteral("totals"), TotalsJson(Monitor.Counters())}});
}

TReply SpeedMode(TMonitor& Monitor, const QJsonObject& Request) {
    if (Request.contains(QStringLiteral("mode"))) {
        const QString wanted = Request.value(QStringLiteral("mode")).toVariant().toString();
        int mode = -1;
        for (int i = 0; i < static_cast<int>(kSpeedModeNames.size()); ++i)
            if (wanted == QLatin1String(kSpeedModeNames[static_cast<std::size_t>(i)])) mode = i;
        if (mode < 0)
            return TControlServer::Error(QStringLiteral("mode is auto, 1200 or 9600"));
        Monitor.SetSpeedMode(static_cast<TSpeedMode>(mode));
    }
    return TControlServer::Ok(
        {{QStringLiteral("mode"), QLatin1String(kSpeedModeNames[Monitor.SpeedMode()])},
         {QStringLiteral("baud"), Monitor.ComPortPlus().Baud()}});
}

TReply SelectPort(TMonitor& Monitor, const QJsonObject& Request) {
    const QJsonValue port = Request.value(QStringLiteral("port"));
    const double number = port.toDouble(-1);
    if (!port.isDouble() || number < 0 || number > 0xFFFF ||
        number != static_cast<double>(static_cast<int>(number)))
        return TControlServer::Error(QStringLiteral("select-port needs \"port\": 0 (none) or a COM number"));
    Monitor.ChoosePort(static_cast<int>(number));
    const TComPortPlus& com = Monitor.ComPortPlus();
    return TControlServer::Ok(
        {{QStringLiteral("port"), com.ComNumber()},
         {QStringLiteral("device"), DevicePath(com)},
         {QStringLiteral("open"), com.Open()}});
}

TReply Export(TLab& Lab, const QJsonObject& Request) {
    const QString base = Request.value(QStringLiteral("path")).toString();
    if (base.isEmpty())
        return TControlServer::Error(
            QStringLiteral("export needs \"path\": the files' path without an extension"));
    QJsonArray files;
    for (const QString& path : ExportReport(Lab.Monitor(), Lab.Statistics(), base, Lab.Judge()))
        files.append(path);
    return TControlServer::Ok({{QStringLiteral("files"), files}});
}

// Arms one fault ("arm": {...}), clears them all ("clear": true), and
// always tells the faults armed. A request that is wrong does neither.
TReply Fault(TLab& Lab, const QJsonObject& Request) {
    if (!Lab.Faults())
        return TControlServer::Error(QStringLiteral("faults cannot be armed in this run"));
    TFaults& faults = Lab.Faults()->Rules();
    const std::optional<bool> clear = Flag(Request, "clear");
    if (!clear) return NotAFlag("clear");
    std::optional<TFaultRule> rule;
    if (Request.contains(QStringLiteral("arm"))) {
        const QJsonValue arm = Request.value(QStringLiteral("arm"));
        if (!arm.isObject())
            return TControlServer::Error(QStringLiteral("arm is a fault: {\"kind\": ...}"));
        QString error;
        rule = FaultFromJson(arm.toObject(), error);
        if (!rule) return TControlServer::Error(error);
    }
    if (*clear) faults.Clear();
    QJsonObject reply;
    if (rule) reply.insert(QStringLiteral("id"), faults.Arm(*rule));
    QJsonArray armed;
    for (const TFaults::TArmed& a : faults.List()) {
        QJsonObject o = FaultToJson(a.Rule);
        o.insert(QStringLiteral("id"), a.Id);
        o.insert(QStringLiteral("fired"), a.Firings);
        o.insert(QStringLiteral("text"), FaultText(a.Rule));
        armed.append(o);
    }
    reply.insert(QStringLiteral("faults"), armed);
    return TControlServer::Ok(reply);
}

TReply Stats(TLab& Lab, const QJsonObject& Request) {
    TLineWatch* watch = Lab.Watch();
    if (!watch)
        return TControlServer::Error(QStringLiteral("the statistics are not kept in this run"));
    const std::optional<bool> clear = Flag(Request, "clear");
    if (!clear) return NotAFlag("clear");
    if (*clear) watch->Clear();
    return TControlServer::Ok({{QStringLiteral("stats"), StatisticsJson(watch->Statistics())},
                               {QStringLiteral("silent-since"), watch->SilentSince()}});
}

// The verdict on the machine; "clear": true starts it afresh, "totals":
// {name: value, ...} sets the totals expected ({} judges them no more).
TReply Verdict(TLab& Lab, const QJsonObject& Request) {
    TJudge* judge = Lab.Judge();
    if (!judge) return TControlServer::Error(QStringLiteral("the machine is not judged in this run"));
    const std::optional<bool> clear = Flag(Request, "clear");
    if (!clear) return NotAFlag("clear");
    std::optional<std::map<std::string, std::int64_t>> totals;
    if (Request.contains(QStringLiteral("totals"))) {
        QString error;
        totals = ExpectedTotals(Request.value(QStringLiteral("totals")), error);
        if (!totals) return TControlServer::Error(error);
    }
    if (*clear) judge->Clear();
    if (totals) judge->SetExpectedTotals(*totals);
    return TControlServer::Ok({{QStringLiteral("verdict"), judge->Json()}});
}

// Starts a conformance run ("run": "standard" or a file, "junit": its
// report, both paths relative to the program's working folder), or with no
// "run" tells the run going on or the last one; "stop": true ends it.
TReply Conformance(TLab& Lab, const QJsonObject& Request) {
    const std::optional<bool> stop = Flag(Request, "stop");
    if (!stop) return NotAFlag("stop");
    const QJsonValue run = Request.value(QStringLiteral("run"));
    const QJsonValue junit = Request.value(QStringLiteral("junit"));
    if (!run.isUndefined() && (!run.isString() || run.toString().isEmpty()))
        return TControlServer::Error(QStringLiteral("run is \"standard\" or a run file's path"));
    if (!junit.isUndefined() && (!junit.isString() || junit.toString().isEmpty() || run.isUndefined()))
        return TControlServer::Error(QStringLiteral("junit is a file's path, given with \"run\""));
    if (*stop && Lab.Run()) Lab.Run()->Stop();
    if (!run.isUndefined()) {
        QString error;
        std::optional<TConformancePlan> plan = LoadPlan(run.toString(), error);
        if (!plan || !Lab.StartRun(std::move(*plan), junit.toString(), error))
            return TControlServer::Error(error);
    }
    if (!Lab.Run()) return TControlServer::Error(QStringLiteral("no conformance run was started"));
    return TControlServer::Ok({{QStringLiteral("conformance"), RunJson(*Lab.Run())}});
}

TReply Subscribe() {
    TReply reply = TControlServer::Ok();
    reply.Subscribe = true;
    return reply;
}

// A command that needs the engine alone.
template <class TOnEngine>
TCommand OnEngine(TOnEngine Command) {
    return [Command](TLab& Lab, const QJsonObject& Request) {
        return Command(Lab.Monitor(), Request);
    };
}

const std::map<QString, TCommand>& Commands() {
    static const std::map<QString, TCommand> commands = {
        {QStringLiteral("status"), [](TLab& L, const QJsonObject&) {
             return TControlServer::Ok({{QStringLiteral("status"), Status(L)}});
         }},
        {QStringLiteral("totals"), OnEngine([](TMonitor& M, const QJsonObject&) {
             return TControlServer::Ok({{QStringLiteral("totals"), TotalsJson(M.Counters())}});
         })},
        {QStringLiteral("counts"), OnEngine([](TMonitor& M, const QJsonObject&) {
             return TControlServer::Ok({{QStringLiteral("counts"), CountsJson(M.Counters())}});
         })},
        {QStringLiteral("log"), OnEngine([](TMonitor& M, const QJsonObject&) {
             return TControlServer::Ok({{QStringLiteral("rows"), EventRowsJson(M)}});
         })},
        {QStringLiteral("reset"), OnEngine([](TMonitor& M, const QJsonObject&) {
             M.Reset();
             return TControlServer::Ok();
         })},
        {QStringLiteral("stats"), Stats},
        {QStringLiteral("export"), Export},
        {QStringLiteral("fault"), Fault},
        {QStringLiteral("verdict"), Verdict},
        {QStringLiteral("conformance"), Conformance},
        {QStringLiteral("set-totals"), OnEngine(SetTotals)},
        {QStringLiteral("speed-mode"), OnEngine(SpeedMode)},
        {QStringLiteral("select-port"), OnEngine(SelectPort)},
        {QStringLiteral("subscribe"), [](TLab&, const QJsonObject&) { return Subscribe(); }},
        {QStringLiteral("subscribe-traffic"), [](TLab&, const QJsonObject&) {
             TReply reply = TControlServer::Ok();
             reply.SubscribeTraffic = true;
             return reply;
         }},
    };
    return commands;
}

} // namespace

TReply ControlRequest(TLab& Lab, const QJsonObject& Request) {
    const QString name = Request.value(QStringLiteral("cmd")).toString();
    const auto command = Commands().find(name);
    if (command == Commands().end())
        return TControlServer::Error(name.isEmpty() ? QStringLiteral("no \"cmd\" given")
                                                    : QStringLiteral("unknown cmd: ") + name);
    // A problem the command meets is the client's answer, and the alert;
    // never a box that waits for someone at the window.
    TErrorReports& reports = Lab.Monitor().Reports();
    const int before = reports.ReportCount();
    reports.SetQuiet(true);
    TReply reply;
    try {
        reply = command->second(Lab, Request);
    } catch (const std::exception& Error) {
        reports.ReportQuietly(PlainErrorText(Error));
    }
    reports.SetQuiet(false);
    if (reports.ReportCount() != before) return TControlServer::Error(reports.LastReport());
    return reply;
}

} // namespace volmar

#include "app/command_line.h"

#include "lab/metrics.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

namespace volmar {

namespace {

// What one timer can wait for, in seconds (about 24 days).
constexpr int kLongestDuration = 2000000;

QCommandLineOption Option(const char* Name, const char* Text, const char* Value = nullptr) {
    return Value ? QCommandLineOption(QLatin1String(Name), QLatin1String(Text), QLatin1String(Value))
                 : QCommandLineOption(QLatin1String(Name), QLatin1String(Text));
}

} // namespace

bool NeedsNoWindow(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const TCommandLine line = ParseCommandLine(arguments);
    return line.Headless || line.Help || line.Version || !line.Error.isEmpty();
}

TCommandLine ParseCommandLine(const QStringList& Arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the monitoring unit a gaming machine reports to."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption folder =
        Option("folder", "Keeps the settings and counters files in <dir> (made when missing).",
               "dir");
    const QCommandLineOption headless =
        Option("headless", "Runs without a window, printing one JSON line per event.");
    const QCommandLineOption quiet = Option("quiet", "Headless: prints no events.");
    const QCommandLineOption port =
        Option("port", "Uses COM <n> (0: none) instead of the stored port, for this run.", "n");
    const QCommandLineOption device =
        Option("device", "Uses <path> as the port's device, for this run.", "path");
    const QCommandLineOption speed =
        Option("speed", "Speed mode for this run: auto, 1200 or 9600.", "mode");
    const QCommandLineOption duration =
        Option("duration", "Ends the program in order after <seconds>.", "seconds");
    const QCommandLineOption control =
        Option("control", "Listens for JSON-line commands on the local socket <path>.", "path");
    const QCommandLineOption metrics = Option(
        "metrics", "Serves figures for Prometheus at http://[<address>:]<port>/metrics "
                   "(127.0.0.1 unless an address is given).",
        "[address:]port");
    const QCommandLineOption capture =
        Option("capture", "Captures the traffic into <file> (.jsonl: JSON Lines, .pcapng: pcapng).", "file");
    const QCommandLineOption exportTo = Option(
        "export", "Headless: writes <base>.csv, <base>.json and <base>-events.csv at the end.",
        "base");
    const QCommandLineOption faults = Option(
        "faults", "Headless: arms the faults in <file> (one JSON object per line).", "file");
    const QCommandLineOption conformance = Option(
        "conformance",
        "Headless: runs the conformance run <run> (standard, or a file) against the machine and "
        "ends; the exit status says whether every step passed.",
        "run");
    const QCommandLineOption junit = Option(
        "junit", "Headless: writes the conformance run's JUnit report to <file>, and a text "
                 "report beside it.",
        "file");
    const QCommandLineOption noJudge =
        Option("no-judge", "Leaves the verdict on the machine out of this run.");
    for (const QCommandLineOption& o : {folder, headless, quiet, port, device, speed, duration,
                                        control, metrics, capture, exportTo, faults, conformance,
                                        junit, noJudge})
        parser.addOption(o);

    TCommandLine line;
    // The help text names the program from the application object.
    if (QCoreApplication::instance()) line.HelpText = parser.helpText();
    if (!parser.parse(Arguments)) {
        line.Error = parser.errorText();
        return line;
    }
    if (!parser.positionalArguments().isEmpty()) {
        line.Error = QStringLiteral("Unexpected argument '%1'.")
                         .arg(parser.positionalArguments().constFirst());
        return line;
    }
    line.Help = parser.isSet(help) || parser.isSet(QStringLiteral("help-all"));
    line.Version = parser.isSet(version);
    line.Headless = parser.isSet(headless);
    line.Quiet = parser.isSet(quiet);
    line.Folder = parser.value(folder);
    // Empty would quietly mean the program's own folder.
    if (parser.isSet(folder) && line.Folder.isEmpty())
        line.Error = QStringLiteral("--folder needs a folder.");
    line.Lab.ControlPath = parser.value(control);
    line.Lab.CapturePath = parser.value(capture);
    if (parser.isSet(metrics)) {
        QString error;
        line.Lab.MetricsAddress = parser.value(metrics);
        if (!ParseMetricsAddress(line.Lab.MetricsAddress, error))
            line.Error = QStringLiteral("--metrics: %1.").arg(error);
    }
    line.Export = parser.value(exportTo);
    line.Faults = parser.value(faults);
    if (!line.Faults.isEmpty() && !line.Headless)
        line.Error = QStringLiteral("--faults is for --headless; the window has Options > Faults.");
    line.Conformance = parser.value(conformance);
    line.JUnit = parser.value(junit);
    line.Lab.Judge = !parser.isSet(noJudge);
    if (!line.Conformance.isEmpty() && !line.Headless)
        line.Error = QStringLiteral(
            "--conformance is for --headless; the window has File > Conformance Run.");
    if (!line.JUnit.isEmpty() && line.Conformance.isEmpty())
        line.Error = QStringLiteral("--junit is for --conformance.");
    if (!line.Conformance.isEmpty() && !line.Lab.Judge)
        line.Error = QStringLiteral("--conformance needs the judge: leave out --no-judge.");
    if (!line.Export.isEmpty() && !line.Headless)
        line.Error = QStringLiteral("--export is for --headless; the window has File > Export.");
    line.Monitor.Device = parser.value(device).toStdString();
    if (line.Quiet && !line.Headless) line.Error = QStringLiteral("--quiet is for --headless.");
    if (parser.isSet(port)) {
        bool ok = false;
        const uint n = parser.value(port).toUInt(&ok);
        if (!ok || n > 0xFFFF)
            line.Error = QStringLiteral("--port takes a COM number from 0 to 65535.");
        else
            line.Monitor.Port = static_cast<std::uint16_t>(n);
    }
    if (parser.isSet(speed)) {
        const QString mode = parser.value(speed);
        if (mode == QLatin1String("auto"))
            line.Monitor.Speed = smAuto;
        else if (mode == QLatin1String("1200"))
            line.Monitor.Speed = sm1200;
        else if (mode == QLatin1String("9600"))
            line.Monitor.Speed = sm9600;
        else
            line.Error = QStringLiteral("--speed is auto, 1200 or 9600.");
    }
    if (parser.isSet(duration)) {
        bool ok = false;
        const double seconds = parser.value(duration).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > kLongestDuration)
            line.Error = QStringLiteral("--duration takes a number of seconds up to %1.")
                             .arg(kLongestDuration);
        else
            line.Duration = seconds;
    }
    return line;
}

} // namespace volmar

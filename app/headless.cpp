#include "app/headless.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonParseError>
#include <QJsonDocument>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <memory>

#include <unistd.h>

#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "monitor/line_writer.h"
#include "monitor/monitor_events.h"
#include "monitor/report.h"
#include "serial/open_failure.h"

namespace volmar {

namespace {

// Arms each fault of the file; false with Error naming the line that is wrong.
bool ArmFaultFile(TFaults& Faults, const QString& Path, QString& Error) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        Error = QStringLiteral("Cannot read %1: %2").arg(Path, file.errorString());
        return false;
    }
    std::vector<TFaultRule> rules;
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(64 * 1024).trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith('#')) continue;
        QJsonParseError parse{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &parse);
        QString why = parse.error == QJsonParseError::NoError && document.isObject()
                          ? QString()
                          : QStringLiteral("not a JSON object");
        std::optional<TFaultRule> rule;
        if (why.isEmpty()) rule = FaultFromJson(document.object(), why);
        if (!rule) {
            Error = QStringLiteral("%1 line %2: %3").arg(Path).arg(number).arg(why);
            return false;
        }
        rules.push_back(*rule);
    }
    for (const TFaultRule& rule : rules) Faults.Arm(rule);
    return true;
}

void ToStandardError(const QString& Text) {
    std::fprintf(stderr, "volmarsim: %s\n", Text.toLocal8Bit().constData());
    std::fflush(stderr);
}

// Nobody is there to close a box: errors are on standard error already (the
// engine puts them there); a warning or a note goes there too.
class TConsoleView : public IMonitorView {
public:
    bool ShowBox(TBoxKind Kind, const QString& Text) override {
        if (Kind != bkError) ToStandardError(Text);
        return true;
    }
};

} // namespace

int RunHeadless(const TCommandLine& Line, const TDataFolder& Folder) {
    TSingleInstance instance(InstanceName(Folder.Path));
    if (!instance.IsFirst()) {
        const QString running = instance.RunningCopy();
        ToStandardError(QStringLiteral("another copy%1 already runs on the files in %2")
                            .arg(running.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(running),
                                 QDir::toNativeSeparators(Folder.Path)));
        return kExitCannotRun;
    }

    // No status bar or About box to look in: say where the files are.
    ToStandardError(QStringLiteral("settings and counters in %1")
                        .arg(QDir::toNativeSeparators(Folder.Path)));

    bool quitRequested = false;
    InstallQuitSignals([&quitRequested] {
        quitRequested = true;
        QCoreApplication::quit();
    });

    SetDeviceChoiceHint("with --device PATH, or in the settings file's [Devices] section");
    TConsoleView view;
    TMonitorOptions options = Line.Monitor;
    options.Folder = Folder.Path;
    options.QuitRequested = [&quitRequested] { return quitRequested; };
    TMonitor monitor(std::move(options), &view);

    if (!Line.Faults.isEmpty()) {
        QString error;
        if (!ArmFaultFile(monitor.Faults(), Line.Faults, error)) {
            ToStandardError(error);
            return kExitCannotRun;
        }
    }

    std::unique_ptr<TLineWriter> out;
    if (!Line.Quiet) {
        out = std::make_unique<TLineWriter>(STDOUT_FILENO);
        QObject::connect(&monitor.Events(), &TMonitorEvents::Event, &monitor,
                         [&out](const QJsonObject& Event) {
                             QByteArray line = QJsonDocument(Event).toJson(QJsonDocument::Compact);
                             line.append('\n');
                             out->Write(line.toStdString());
                         });
    }

    monitor.StartUp();
    int status = 0;
    const TComPortPlus& port = monitor.ComPortPlus();
    if (!port.Open()) {
        ToStandardError(port.ComNumber() == 0
                            ? QStringLiteral("no port is chosen: give --port N or --device PATH")
                            : QStringLiteral("COM%1 could not be opened").arg(port.ComNumber()));
        status = kExitCannotRun;
    } else if (monitor.ControlFailed()) {
        status = kExitCannotRun;
    } else if (!quitRequested) {
        if (Line.Duration)
            QTimer::singleShot(static_cast<int>(std::lround(*Line.Duration * 1000)),
                               QCoreApplication::instance(), &QCoreApplication::quit);
        QCoreApplication::exec();
    }
    if (!Line.Export.isEmpty() && status == 0) {
        try {
            ExportReport(monitor, Line.Export);
        } catch (const std::exception& Error) {
            ToStandardError(QString::fromLocal8Bit(Error.what()));
            status = kExitSaveFailed;
        }
    }
    monitor.ShutDown();
    if (monitor.Reports().SaveFailed() && status == 0) status = kExitSaveFailed;
    if (out && out->Dropped() > 0)
        ToStandardError(QStringLiteral("%1 event lines were dropped: standard output was not read")
                            .arg(out->Dropped()));
    out.reset();
    return status;
}

} // namespace volmar

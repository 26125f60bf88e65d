#include "app/headless.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QTimer>

#include <cmath>
#include <memory>
#include <optional>

#include <unistd.h>

#include "app/fault_file.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "lab/conformance.h"
#include "lab/control.h"
#include "lab/events.h"
#include "lab/fault_driver.h"
#include "lab/judge.h"
#include "lab/junit_report.h"
#include "lab/line_writer.h"
#include "lab/metrics.h"
#include "lab/report.h"
#include "monitor/error_reports.h"
#include "serial/open_failure.h"

namespace volmar {

namespace {

// The run's outcome on standard error, and as the exit status.
int ConformanceStatus(const TConformanceRun& Run, TLab& Lab) {
    if (!Run.ReportError().isEmpty()) {
        ToStandardError(Run.ReportError());
        return kExitSaveFailed;
    }
    QByteArray text = RunReportText(Run, Lab.Judge()->Verdict());
    if (text.endsWith('\n')) text.chop(1);
    ToStandardError(QString::fromUtf8(text));
    return Run.Passed() ? 0 : kExitRunFailed;
}

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
                        .arg(QDir::toNativeSeparators(Folder.Path)),
                    TPriority::Note);

    bool quitRequested = false;
    InstallQuitSignals([&quitRequested] {
        quitRequested = true;
        QCoreApplication::quit();
    });

    SetDeviceChoiceHint("with --device PATH, or in the settings file's [Devices] section");
    TMonitorOptions options = Line.Monitor;
    options.Folder = Folder.Path;
    options.QuitRequested = [&quitRequested] { return quitRequested; };
    // No view, so no box: what the engine has to say goes to standard error.
    TMonitor monitor(std::move(options));
    TLab lab(monitor, Line.Lab);

    if (!Line.Faults.isEmpty()) {
        QString error;
        if (!ArmFaultFile(lab.Faults()->Rules(), Line.Faults, error)) {
            ToStandardError(error);
            return kExitCannotRun;
        }
    }

    std::optional<TConformancePlan> plan;
    if (!Line.Conformance.isEmpty()) {
        QString error;
        plan = LoadPlan(Line.Conformance, error);
        if (!plan) {
            ToStandardError(error);
            return kExitCannotRun;
        }
    }

    std::unique_ptr<TLineWriter> out;
    if (!Line.Quiet) {
        out = std::make_unique<TLineWriter>(STDOUT_FILENO, "standard output");
        QObject::connect(&lab.Events(), &TMonitorEvents::Event, &monitor,
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
    } else if ((lab.Control() && lab.Control()->Failed()) ||
               (lab.Metrics() && lab.Metrics()->Failed())) {
        status = kExitCannotRun;
    } else if (!quitRequested) {
        TConformanceRun* run = nullptr;
        if (plan) {
            QString error;
            run = lab.StartRun(std::move(*plan), Line.JUnit, error);
            if (!run) {
                ToStandardError(error);
                status = kExitCannotRun;
            } else {
                QObject::connect(run, &TConformanceRun::Done, QCoreApplication::instance(),
                                 &QCoreApplication::quit);
            }
        }
        if (Line.Duration)
            QTimer::singleShot(static_cast<int>(std::lround(*Line.Duration * 1000)),
                               QCoreApplication::instance(), &QCoreApplication::quit);
        if (status == 0) QCoreApplication::exec();
        if (run) {
            // Ended by a signal or the duration: the steps not reached are skipped.
            run->Stop();
            status = ConformanceStatus(*run, lab);
        }
    }
    if (!Line.Export.isEmpty() && status == 0) {
        try {
            ExportReport(monitor, lab.Statistics(), Line.Export, lab.Judge());
        } catch (const std::exception& Error) {
            ToStandardError(PlainErrorText(Error));
            status = kExitSaveFailed;
        }
    }
    monitor.ShutDown();
    if (monitor.Reports().SaveFailed() && status == 0) status = kExitSaveFailed;
    // A reader that went away was told of once, when it went.
    if (out && out->Dropped() > 0 && !out->ReaderGone())
        ToStandardError(QStringLiteral("%1 event lines were dropped: standard output was not read")
                            .arg(out->Dropped()),
                        TPriority::Warning);
    out.reset();
    return status;
}

} // namespace volmar

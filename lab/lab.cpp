#include "lab/lab.h"

#include "lab/capture.h"
#include "lab/conformance.h"
#include "lab/control.h"
#include "lab/events.h"
#include "lab/fault_driver.h"
#include "lab/judge.h"
#include "lab/line_watch.h"
#include "lab/metrics.h"
#include "lab/service_notifier.h"
#include "monitor/monitor.h"

namespace volmar {

TLab::TLab(TMonitor& Monitor, TLabOptions Options) : FMonitor(Monitor) {
    // The capture's settings section before the watch's, as the file has them.
    if (Options.Capture) FCapture = std::make_unique<TCapture>(Monitor, Options.CapturePath);
    if (Options.Watch) FWatch = std::make_unique<TLineWatch>(Monitor);
    if (FCapture && FWatch)
        QObject::connect(
            FCapture.get(), &TCapture::RecordsLost, FWatch.get(),
            [watch = FWatch.get()](quint64 Count) { watch->Add(stCaptureLost, Count); });
    if (Options.Faults) FFaults = std::make_unique<TFaultDriver>(Monitor);
    if (Options.Judge) FJudge = std::make_unique<TJudge>(Monitor);
    if (Options.Control) FControl = std::make_unique<TControl>(*this, Options.ControlPath);
    if (Options.Metrics) FMetrics = std::make_unique<TMetrics>(*this, Options.MetricsAddress);
    if (Options.Service) FService = TServiceNotifier::FromEnvironment(Monitor);
}

TLab::~TLab() {
    if (FMonitor.Running()) FMonitor.ShutDown();
    FRun.reset();
}

TConformanceRun* TLab::StartRun(TConformancePlan Plan, const QString& JUnitPath, QString& Error) {
    if (!FFaults || !FJudge) {
        Error = QStringLiteral("a conformance run needs the faults and the judge, left out of this run");
        return nullptr;
    }
    if (FRun && !FRun->Ended()) {
        Error = QStringLiteral("a conformance run is going on already");
        return nullptr;
    }
    FRun = std::make_unique<TConformanceRun>(FMonitor, FFaults->Rules(), *FJudge, std::move(Plan));
    FRun->SetReportPath(JUnitPath);
    FRun->Start();
    return FRun.get();
}

const TStatistics* TLab::Statistics() const { return FWatch ? &FWatch->Statistics() : nullptr; }

TMonitorEvents& TLab::Events() {
    if (!FEvents) FEvents = std::make_unique<TMonitorEvents>(FMonitor);
    return *FEvents;
}

} // namespace volmar

// TLab: the lab features beside one engine, made and wired in one place for
// the window and the headless run alike. Each part watches the engine's
// records and signals and uses its public operations; a part left out is
// simply not made, and the engine runs the same without it.
#pragma once

#include <QString>

#include <memory>

namespace volmar {

class TCapture;
class TConformanceRun;
struct TConformancePlan;
class TControl;
class TFaultDriver;
class TJudge;
class TLineWatch;
class TMetrics;
class TMonitor;
class TMonitorEvents;
class TServiceNotifier;
class TStatistics;

struct TLabOptions {
    // The control socket, relative to the working folder; empty: the
    // settings file's [Control] Path, if any, relative to the files' folder.
    QString ControlPath;
    // This run's capture file instead of the settings file's choice.
    QString CapturePath;
    // This run's [ADDR:]PORT for the metrics instead of the settings file's.
    QString MetricsAddress;
    // Which parts are made; all of them unless told otherwise.
    bool Capture = true;
    bool Watch = true;
    bool Faults = true;
    bool Judge = true;
    bool Control = true;
    // Told to systemd when NOTIFY_SOCKET asks for it.
    bool Service = true;
    bool Metrics = true;
};

class TLab {
public:
    // Made after the engine and before its start-up; Monitor must outlive it.
    explicit TLab(TMonitor& Monitor, TLabOptions Options = {});
    // Shuts the engine down first if it still runs: the parts write their
    // settings sections and their last records then.
    ~TLab();
    TLab(const TLab&) = delete;
    TLab& operator=(const TLab&) = delete;

    TMonitor& Monitor() { return FMonitor; }
    // Null for a part left out.
    TCapture* Capture() { return FCapture.get(); }
    TLineWatch* Watch() { return FWatch.get(); }
    TFaultDriver* Faults() { return FFaults.get(); }
    TJudge* Judge() { return FJudge.get(); }
    TControl* Control() { return FControl.get(); }
    TMetrics* Metrics() { return FMetrics.get(); }
    // The line's statistics, for the export; null when they are not kept.
    const TStatistics* Statistics() const;
    // Starts a conformance run (its reports to JUnitPath when given);
    // null, with Error saying why, when one runs already or the faults or
    // the judge are left out. The run lives until the next starts.
    TConformanceRun* StartRun(TConformancePlan Plan, const QString& JUnitPath, QString& Error);
    // The run going on or the last one; null before the first.
    TConformanceRun* Run() { return FRun.get(); }
    // The engine's events as JSON objects, made on first use: a run that
    // shows them to nobody spends nothing on them.
    TMonitorEvents& Events();

private:
    TMonitor& FMonitor;
    std::unique_ptr<TMonitorEvents> FEvents;
    std::unique_ptr<TCapture> FCapture;
    std::unique_ptr<TLineWatch> FWatch;
    std::unique_ptr<TFaultDriver> FFaults;
    std::unique_ptr<TJudge> FJudge;
    std::unique_ptr<TConformanceRun> FRun;
    std::unique_ptr<TControl> FControl;
    std::unique_ptr<TMetrics> FMetrics;
    std::unique_ptr<TServiceNotifier> FService;
};

} // namespace volmar

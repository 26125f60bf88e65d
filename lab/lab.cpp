#include "lab/lab.h"

#include "lab/control.h"
#include "lab/events.h"
#include "lab/fault_driver.h"
#include "monitor/monitor.h"

namespace volmar {

TLab::TLab(TMonitor& Monitor, TLabOptions Options) : FMonitor(Monitor) {
    if (Options.Faults) FFaults = std::make_unique<TFaultDriver>(Monitor);
    if (Options.Control) FControl = std::make_unique<TControl>(*this, Options.ControlPath);
}

TLab::~TLab() {
    if (FMonitor.Running()) FMonitor.ShutDown();
}

TMonitorEvents& TLab::Events() {
    if (!FEvents) FEvents = std::make_unique<TMonitorEvents>(FMonitor);
    return *FEvents;
}

} // namespace volmar

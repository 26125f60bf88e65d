// The monitoring engine without widgets in a temporary program folder, its
// COM1 on a virtual line, its port on a manual clock, shown to a view that
// records every call.
#pragma once

#include <memory>
#include <string>

#include "monitor/recording_monitor_view.h"
#include "support/folder_and_line.h"

namespace volmar::testing {

class MonitorTest : public FolderAndLineTest {
protected:
    void TearDown() override {
        Release();
        FolderAndLineTest::TearDown();
    }

    // The engine as built, before its start-up.
    TMonitor& Create() {
        if (!monitor) monitor = std::make_unique<TMonitor>(Options(), &view);
        return *monitor;
    }

    TMonitor& Start() {
        Create();
        BeforeStartUp();
        monitor->StartUp();
        Settle();
        return *monitor;
    }

    TMonitor& StartOnCom1(const std::string& More = "") {
        WriteSettings("[Comms]\nPort=1\n" + More);
        TMonitor& m = Start();
        EXPECT_TRUE(m.ComPortPlus().Open());
        return m;
    }

    // Shuts down, writing both files, and lets the engine go.
    void Close() {
        monitor->ShutDown();
        Release();
    }

    // What a test adds beside the engine: made before its start-up, let go
    // before it.
    virtual void BeforeStartUp() {}
    virtual void Release() { monitor.reset(); }

    RecordingMonitorView view;
    std::unique_ptr<TMonitor> monitor;
};

} // namespace volmar::testing

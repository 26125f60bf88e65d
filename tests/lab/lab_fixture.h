// The engine of the monitor tests with the lab beside it, made before the
// engine starts up; the view also records the silent machine as "Silent=".
#pragma once

#include <memory>

#include "lab/lab.h"
#include "lab/line_watch.h"
#include "monitor/monitor_fixture.h"

namespace volmar::testing {

class LabTest : public MonitorTest {
protected:
    void BeforeStartUp() override {
        if (lab) return;
        lab = std::make_unique<TLab>(*monitor, labOptions);
        if (TLineWatch* watch = lab->Watch())
            QObject::connect(watch, &TLineWatch::SilenceChanged, [this](const QString& Since) {
                view.Calls.push_back("Silent=" + Since.toStdString());
            });
    }
    void Release() override {
        lab.reset();
        MonitorTest::Release();
    }

    TLabOptions labOptions;
    std::unique_ptr<TLab> lab;
};

} // namespace volmar::testing

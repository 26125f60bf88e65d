// The engine of the monitor tests with the lab beside it, made before the
// engine starts up.
#pragma once

#include <memory>

#include "lab/lab.h"
#include "monitor/monitor_fixture.h"

namespace volmar::testing {

class LabTest : public MonitorTest {
protected:
    void BeforeStartUp() override {
        if (!lab) lab = std::make_unique<TLab>(*monitor, labOptions);
    }
    void Release() override {
        lab.reset();
        MonitorTest::Release();
    }

    TLabOptions labOptions;
    std::unique_ptr<TLab> lab;
};

} // namespace volmar::testing

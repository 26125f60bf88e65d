// Runs the Qt event loop of the test's thread until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <functional>
#include <thread>

namespace volmar::testing {

inline bool PumpUntil(const std::function<bool()>& Done, int TimeoutMs = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!Done()) {
        if (timer.elapsed() > TimeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Lets the port's threads and the event loop run for a while.
inline void PumpFor(int Ms) {
    PumpUntil([] { return false; }, Ms);
}

} // namespace volmar::testing

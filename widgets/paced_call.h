// A call made soon after it is asked for, but at most once an interval: the
// first request after a pause runs on the next turn of the event loop, the
// ones that follow are gathered until the interval has passed. For work the
// eye sees that would otherwise hold up the thread that answers the machine.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace volmar {

class TPacedCall : public QObject {
public:
    TPacedCall(int IntervalMs, std::function<void()> Call, QObject* Parent = nullptr);

    void Request();
    // The caller has done the work itself: what was asked for is done.
    void Ran();

private:
    const int FIntervalMs;
    std::function<void()> FCall;
    QTimer FTimer;
    QElapsedTimer FSince;
};

} // namespace volmar

#include "widgets/paced_call.h"

namespace volmar {

TPacedCall::TPacedCall(int IntervalMs, std::function<void()> Call, QObject* Parent)
    : QObject(Parent), FIntervalMs(IntervalMs), FCall(std::move(Call)) {
    FTimer.setSingleShot(true);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        Ran();
        FCall();
    });
}

void TPacedCall::Request() {
    if (FTimer.isActive()) return;
    const qint64 since = FSince.isValid() ? FSince.elapsed() : FIntervalMs;
    FTimer.start(since >= FIntervalMs ? 0 : static_cast<int>(FIntervalMs - since));
}

void TPacedCall::Ran() {
    FTimer.stop();
    FSince.start();
}

} // namespace volmar

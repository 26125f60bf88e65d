#include "monitor/counters_keeper.h"

#include <cstring>

namespace volmar {

TCountersKeeper::TCountersKeeper(const TCounters& Live, std::string FileName, int IntervalMs)
    : FLive(Live), FFileName(std::move(FileName)), FLastTaken(Live) {
    FTimer.setInterval(IntervalMs);
    connect(&FTimer, &QTimer::timeout, this, [this] { Tick(); });
    FTimer.start();
    FWriter = std::thread([this] { WriterLoop(); });
}

TCountersKeeper::~TCountersKeeper() { StopWriter(); }

void TCountersKeeper::Refuse(std::string Why) {
    FRefused = std::move(Why);
    FTimer.stop();
}

void TCountersKeeper::Tick() {
    if (FRefused) return;
    if (!FRetry && std::memcmp(&FLive, &FLastTaken, sizeof FLastTaken) == 0) return;
    FRetry = false;
    FLastTaken = FLive;
    std::lock_guard lock(FLock);
    // A save still in progress is followed by the newest record only.
    FPending = FLastTaken;
    FWake.notify_one();
}

void TCountersKeeper::WriterLoop() {
    std::unique_lock lock(FLock);
    while (true) {
        FWake.wait(lock, [this] { return FStop || FPending; });
        if (!FPending) return;
        const TCounters record = *FPending;
        FPending.reset();
        lock.unlock();
        std::string error;
        try {
            SaveCounters(record, FFileName);
        } catch (const std::exception& Error) {
            error = Error.what();
        }
        // Runs on the UI thread, and not at all once the keeper is gone.
        QMetaObject::invokeMethod(this, [this, error] { Written(error); }, Qt::QueuedConnection);
        lock.lock();
    }
}

void TCountersKeeper::Written(const std::string& Error) {
    if (!Error.empty()) {
        if (!FFailing && OnFailed) OnFailed(Error);
        FFailing = true;
        // Try again at the next tick, even if nothing changes meanwhile.
        FRetry = true;
        return;
    }
    if (FFailing && OnRecovered) OnRecovered();
    FFailing = false;
}

void TCountersKeeper::StopWriter() {
    FTimer.stop();
    {
        std::lock_guard lock(FLock);
        FStop = true;
        FPending.reset();
        FWake.notify_one();
    }
    if (FWriter.joinable()) FWriter.join();
}

void TCountersKeeper::FinalSave() {
    StopWriter();
    if (FRefused) throw ECountersFileError(*FRefused);
    SaveCounters(FLive, FFileName);
}

} // namespace volmar

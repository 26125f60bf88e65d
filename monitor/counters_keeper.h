// Keeps the counters file in step with the counters record while the
// program runs: a record that has changed is copied and written about once
// a second by a thread of its own, so a crash or a power cut loses at most
// the last second of counts, and no answer ever waits for the disk.
#pragma once

#include <QObject>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "interpret/counters.h"

namespace volmar {

class TCountersKeeper : public QObject {
public:
    // Live is the record the program counts in; it must outlive the keeper.
    // What it holds now is taken as what the file already holds.
    TCountersKeeper(const TCounters& Live, std::string FileName, int IntervalMs = 1000);
    ~TCountersKeeper() override;

    // From now on the file is never written (it could not be read at
    // start-up and could not be kept aside); Why tells the operator so.
    void Refuse(std::string Why);
    // Stops writing in the background and writes the record once more, now;
    // raises ECountersFileError when that fails or the file is refused.
    void FinalSave();

    // A save in the background failed: once, until a later save succeeds.
    std::function<void(const std::string& Error)> OnFailed;
    // A save succeeded after failures.
    std::function<void()> OnRecovered;

private:
    void Tick();
    void WriterLoop();
    void Written(const std::string& Error);
    void StopWriter();

    const TCounters& FLive;
    const std::string FFileName;
    QTimer FTimer;
    TCounters FLastTaken;
    std::optional<std::string> FRefused;
    bool FFailing = false;
    bool FRetry = false;

    std::mutex FLock;
    std::condition_variable FWake;
    std::optional<TCounters> FPending;
    bool FStop = false;
    std::thread FWriter;
};

} // namespace volmar

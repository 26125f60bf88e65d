#include "monitor/line_writer.h"

#include <cerrno>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace volmar {

void YieldToAnswers() {
    sched_param param{};
    // Best effort: an ordinary thread still writes, only sooner.
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &param);
}

TLineQueue::TLineQueue(std::size_t Limit) : FLimit(Limit) {}

bool TLineQueue::Push(std::string Line) {
    std::unique_lock<std::mutex> lock(FLock);
    const std::size_t size = Line.size();
    if (FClosed || FQueuedBytes + FTakenBytes + size > FLimit) {
        ++FLost;
        return false;
    }
    const bool wasEmpty = FQueue.empty();
    const bool wasShort = FQueuedBytes < FLimit / 4;
    FQueue.push_back(std::move(Line));
    FQueuedBytes += size;
    // The writing thread sleeps only on an empty queue or while it gathers,
    // so most lines need not wake it.
    const bool wake = wasEmpty || (wasShort && FQueuedBytes >= FLimit / 4);
    lock.unlock();
    if (wake) FWake.notify_one();
    return true;
}

bool TLineQueue::Take(std::vector<std::string>& Batch, std::chrono::milliseconds Gather) {
    // The lines written last time are freed before the lock is taken, so
    // that no one queuing a line waits for it.
    Batch.clear();
    std::unique_lock<std::mutex> lock(FLock);
    FWake.wait(lock, [this] { return FClosed || !FQueue.empty(); });
    if (FQueue.empty()) return false;
    if (Gather.count() > 0)
        FWake.wait_for(lock, Gather,
                       [this] { return FClosed || FDraining > 0 || FQueuedBytes >= FLimit / 4; });
    Batch.swap(FQueue);
    FTakenBytes = FQueuedBytes;
    FQueuedBytes = 0;
    FBusy = true;
    return true;
}

void TLineQueue::Done(std::uint64_t Failed) {
    const std::lock_guard<std::mutex> lock(FLock);
    FBusy = false;
    FTakenBytes = 0;
    FLost += Failed;
    if (FQueue.empty()) FDrained.notify_all();
}

bool TLineQueue::Drain(std::chrono::milliseconds Timeout) {
    std::unique_lock<std::mutex> lock(FLock);
    ++FDraining;
    FWake.notify_all();
    const bool drained =
        FDrained.wait_for(lock, Timeout, [this] { return FQueue.empty() && !FBusy; });
    --FDraining;
    return drained;
}

void TLineQueue::Close(bool Discard) {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FClosed = true;
        if (Discard) {
            FQueue.clear();
            FQueuedBytes = 0;
        }
    }
    FWake.notify_all();
}

std::uint64_t TLineQueue::Lost() const {
    const std::lock_guard<std::mutex> lock(FLock);
    return FLost;
}

// Shared with the thread, which may outlive the writer when its reader
// never takes the last lines.
struct TLineWriter::TState {
    int Fd;
    TLineQueue Queue;

    TState(int Fd, std::size_t Limit) : Fd(Fd), Queue(Limit) {}

    void Run() {
        YieldToAnswers();
        std::vector<std::string> batch;
        while (Queue.Take(batch)) {
            std::uint64_t failed = 0;
            for (const std::string& line : batch)
                if (!WriteAll(line)) ++failed;
            Queue.Done(failed);
        }
    }

    bool WriteAll(const std::string& Line) const {
        std::size_t done = 0;
        while (done < Line.size()) {
            const ssize_t n = ::write(Fd, Line.data() + done, Line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
};

TLineWriter::TLineWriter(int Fd, std::size_t Limit) : FState(std::make_shared<TState>(Fd, Limit)) {
    std::thread([state = FState] { state->Run(); }).detach();
}

TLineWriter::~TLineWriter() {
    FState->Queue.Drain(std::chrono::seconds(2));
    FState->Queue.Close(true);
}

void TLineWriter::Write(std::string Line) {
    FState->Queue.Push(std::move(Line));
}

std::uint64_t TLineWriter::Dropped() const {
    return FState->Queue.Lost();
}

} // namespace volmar

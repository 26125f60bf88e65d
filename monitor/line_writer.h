// Lines written out by a thread of their own, so that a reader that is slow
// or has stopped, or a disk that is busy, never holds up an answer on the
// line. What waits is bounded: a line that finds the queue full is dropped
// and counted instead.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace volmar {

// Lets the calling thread run only when a core would otherwise idle, so
// that a writing thread never takes a core from the one that answers.
void YieldToAnswers();

// The lines between the threads that must not wait and the one that writes.
class TLineQueue {
public:
    explicit TLineQueue(std::size_t Limit);

    // Queues Line unless the lines queued and being written would pass the
    // limit; false when it was dropped.
    bool Push(std::string Line);
    // For the writing thread: waits for a line, then up to Gather for more
    // (less when a quarter of the limit is queued, or on Drain or Close),
    // and swaps them all into Batch. False once closed with nothing left.
    bool Take(std::vector<std::string>& Batch,
              std::chrono::milliseconds Gather = std::chrono::milliseconds(0));
    // The lines last taken are written, but for Failed of them.
    void Done(std::uint64_t Failed = 0);
    // Waits at most Timeout until every line queued is done; true if so.
    bool Drain(std::chrono::milliseconds Timeout);
    // Takes no more lines; the writing thread still gets those queued,
    // unless Discard.
    void Close(bool Discard);
    // Lines dropped, and lines the writing thread could not write.
    std::uint64_t Lost() const;

private:
    const std::size_t FLimit;
    mutable std::mutex FLock;
    std::condition_variable FWake;
    std::condition_variable FDrained;
    std::vector<std::string> FQueue;
    std::size_t FQueuedBytes = 0; // in FQueue
    std::size_t FTakenBytes = 0;  // taken and not yet done
    bool FBusy = false;
    bool FClosed = false;
    int FDraining = 0;
    std::uint64_t FLost = 0;
};

class TLineWriter {
public:
    static constexpr std::size_t kDefaultLimit = 4 * 1024 * 1024;

    explicit TLineWriter(int Fd, std::size_t Limit = kDefaultLimit);
    // Writes what is queued, waiting at most about two seconds for a reader
    // that does not take it; the rest is given up.
    ~TLineWriter();
    TLineWriter(const TLineWriter&) = delete;
    TLineWriter& operator=(const TLineWriter&) = delete;

    // Queues Line as it is (the caller ends it with a newline).
    void Write(std::string Line);
    // Lines dropped because the queue was full, and lines that could not be
    // written (the reader went away).
    std::uint64_t Dropped() const;

private:
    struct TState;
    std::shared_ptr<TState> FState;
};

} // namespace volmar

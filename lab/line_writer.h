// Lines written out by a thread of their own, so that a reader that is slow
// or has stopped, or a disk that is busy, never holds up an answer on the
// line. What waits is bounded: a line that finds the queue full is dropped
// and counted instead. A reader that has gone away (EPIPE) is written to no
// more: that is said once on standard error, and its lines are dropped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "lab/batch_queue.h"

namespace volmar {

// Lets the calling thread run only when a core would otherwise idle, so
// that a writing thread never takes a core from the one that answers.
void YieldToAnswers();

// The lines between the threads that must not wait and the one that writes.
using TLineQueue = TBatchQueue<std::string>;

class TLineWriter {
public:
    static constexpr std::size_t kDefaultLimit = 4 * 1024 * 1024;

    // Name says what Fd is ("standard output") when its reader goes away.
    TLineWriter(int Fd, std::string Name, std::size_t Limit = kDefaultLimit);
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
    // True once the reader has gone away.
    bool ReaderGone() const;

private:
    struct TState;
    std::shared_ptr<TState> FState;
};

} // namespace volmar

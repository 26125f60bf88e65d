// Lines written to a file descriptor by a thread of its own, so that a
// reader that is slow or has stopped never holds up an answer on the line.
// What waits is bounded: a line that finds the queue full is dropped and
// counted instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace volmar {

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

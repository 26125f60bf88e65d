#include "monitor/line_writer.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include <unistd.h>

namespace volmar {

// Shared with the thread, which may outlive the writer when its reader
// never takes the last lines.
struct TLineWriter::TState {
    int Fd;
    std::size_t Limit;
    std::mutex Lock;
    std::condition_variable Wake;
    std::condition_variable Drained;
    std::deque<std::string> Queue;
    std::size_t Queued = 0;
    bool Writing = false;
    bool Stop = false;
    std::uint64_t Dropped = 0;

    void Run() {
        std::unique_lock<std::mutex> lock(Lock);
        for (;;) {
            Wake.wait(lock, [this] { return Stop || !Queue.empty(); });
            if (Queue.empty()) return;
            std::string line = std::move(Queue.front());
            Queue.pop_front();
            Queued -= line.size();
            Writing = true;
            lock.unlock();
            const bool written = WriteAll(line);
            lock.lock();
            Writing = false;
            if (!written) ++Dropped;
            if (Queue.empty()) Drained.notify_all();
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

TLineWriter::TLineWriter(int Fd, std::size_t Limit) : FState(std::make_shared<TState>()) {
    FState->Fd = Fd;
    FState->Limit = Limit;
    std::thread([state = FState] { state->Run(); }).detach();
}

TLineWriter::~TLineWriter() {
    std::unique_lock<std::mutex> lock(FState->Lock);
    FState->Drained.wait_for(lock, std::chrono::seconds(2),
                             [this] { return FState->Queue.empty() && !FState->Writing; });
    FState->Stop = true;
    FState->Queue.clear();
    FState->Wake.notify_all();
}

void TLineWriter::Write(std::string Line) {
    const std::lock_guard<std::mutex> lock(FState->Lock);
    if (FState->Queued + Line.size() > FState->Limit) {
        ++FState->Dropped;
        return;
    }
    FState->Queued += Line.size();
    FState->Queue.push_back(std::move(Line));
    FState->Wake.notify_one();
}

std::uint64_t TLineWriter::Dropped() const {
    const std::lock_guard<std::mutex> lock(FState->Lock);
    return FState->Dropped;
}

} // namespace volmar

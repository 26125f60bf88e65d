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

// Shared with the thread, which may outlive the writer when its reader
// never takes the last lines.
struct TLineWriter::TState {
    int Fd;
    TLineQueue Queue;

    TState(int Fd, std::size_t Limit) : Fd(Fd), Queue(Limit) {}

    void Run() {
        YieldToAnswers();
        TLineQueue::TBatch batch;
        while (Queue.Take(batch)) {
            std::uint64_t failed = 0;
            for (const auto& chunk : batch)
                for (const std::string& line : chunk)
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

#include "lab/line_writer.h"

#include <atomic>
#include <cerrno>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "monitor/error_reports.h"

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
    std::string Name;
    TLineQueue Queue;
    std::atomic<bool> Gone{false};

    TState(int Fd, std::string Name, std::size_t Limit)
        : Fd(Fd), Name(std::move(Name)), Queue(Limit) {}

    void Run() {
        YieldToAnswers();
        TLineQueue::TBatch batch;
        while (Queue.Take(batch)) {
            std::uint64_t failed = 0;
            for (const auto& chunk : batch)
                for (const std::string& line : chunk)
                    if (Gone.load(std::memory_order_relaxed) || !WriteAll(line)) ++failed;
            Queue.Done(failed);
        }
    }

    bool WriteAll(const std::string& Line) {
        std::size_t done = 0;
        while (done < Line.size()) {
            const ssize_t n = ::write(Fd, Line.data() + done, Line.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EPIPE) ReaderHasGone();
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    void ReaderHasGone() {
        Gone.store(true, std::memory_order_relaxed);
        // Nothing queued now or later will be written.
        Queue.Close(true);
        ToStandardError(
            QStringLiteral("the reader of %1 has gone away: no more lines are written to it")
                .arg(QString::fromStdString(Name)));
    }
};

TLineWriter::TLineWriter(int Fd, std::string Name, std::size_t Limit)
    : FState(std::make_shared<TState>(Fd, std::move(Name), Limit)) {
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

bool TLineWriter::ReaderGone() const {
    return FState->Gone.load(std::memory_order_relaxed);
}

} // namespace volmar

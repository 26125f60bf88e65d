#include "serial/standard_error.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

namespace volmar {

namespace {
std::atomic<bool> lost{false};
std::atomic<bool> prefixed{false};
} // namespace

void WriteStandardError(std::string_view Line, TPriority Priority) {
    if (lost.load(std::memory_order_relaxed)) return;
    // One write, so that lines from several threads do not run into each other.
    std::string text;
    if (prefixed.load(std::memory_order_relaxed)) {
        // The journal reads each line as an entry of its own, so each one
        // carries the priority.
        std::string prefix(1, '<');
        prefix += std::to_string(static_cast<int>(Priority));
        prefix += '>';
        std::size_t start = 0;
        for (;;) {
            const std::size_t end = Line.find('\n', start);
            text += prefix;
            text += Line.substr(start, end == std::string_view::npos ? end : end - start);
            if (end == std::string_view::npos) break;
            text += '\n';
            start = end + 1;
        }
    } else {
        text = Line;
    }
    text += '\n';
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EPIPE) lost.store(true, std::memory_order_relaxed);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

bool StandardErrorLost() { return lost.load(std::memory_order_relaxed); }

void SetJournalPrefixes(bool On) { prefixed.store(On, std::memory_order_relaxed); }

bool JournalStreamIsStandardError() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat st{};
    if (!stream || ::fstat(STDERR_FILENO, &st) != 0) return false;
    return std::string(stream) == std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

} // namespace volmar

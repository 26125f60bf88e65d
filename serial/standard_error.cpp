#include "serial/standard_error.h"

#include <atomic>
#include <cerrno>
#include <string>

#include <unistd.h>

namespace volmar {

namespace {
std::atomic<bool> lost{false};
} // namespace

void WriteStandardError(std::string_view Line) {
    if (lost.load(std::memory_order_relaxed)) return;
    // One write, so that lines from several threads do not run into each other.
    std::string text(Line);
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

} // namespace volmar

#include "monitor/capture_file.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace volmar {

namespace {

// Long enough to make a batch worth a write, short enough that a person
// following the file sees the lines at once.
constexpr std::chrono::milliseconds kGather(100);
constexpr std::chrono::seconds kFlushWait(2);
// A write holds its core until the kernel has copied it all; in small
// pieces the machine's side and the answers get the core back in between.
constexpr std::size_t kWriteChunk = 16 * 1024;
// The buffer is written out once it holds this much.
constexpr std::size_t kWriteOutAt = 4 * kWriteChunk;

std::string ErrnoText(int Errno) {
    return std::error_code(Errno, std::generic_category()).message();
}

} // namespace

std::size_t QueuedBytes(const TCaptureItem& Item) {
    if (const auto* line = std::get_if<std::string>(&Item)) return line->size();
    // About what the record holds; its line is of a like size.
    const auto& record = std::get<TTrafficRecord>(Item);
    return sizeof record + static_cast<std::size_t>(record.Bytes.size()) + record.Text.size() +
           record.Detail.size();
}

TCaptureFile::TCaptureFile(std::string Path, std::uint64_t SizeLimit, int Keep,
                           std::size_t QueueLimit, TCaptureFormat Format)
    : FPath(std::move(Path)), FSizeLimit(SizeLimit), FKeep(Keep), FFormat(Format),
      FQueue(QueueLimit) {
    FThread = std::thread([this] { Run(); });
}

TCaptureFile::~TCaptureFile() {
    FQueue.Close(false);
    FThread.join();
    Close();
}

void TCaptureFile::Write(std::string Line) {
    FQueue.Push(std::move(Line));
}

void TCaptureFile::Write(TTrafficRecord Record) {
    FQueue.Push(std::move(Record));
}

bool TCaptureFile::Flush() {
    return FQueue.Drain(kFlushWait);
}

std::string TCaptureFile::Error() const {
    const std::lock_guard<std::mutex> lock(FErrorLock);
    return FError;
}

void TCaptureFile::Run() {
    YieldToAnswers();
    // The buffer's pages are touched now, before any traffic: a first batch
    // that faulted them in held up the answers of its first tenth of a second.
    FBuffer.resize(kWriteOutAt + kWriteChunk);
    FBuffer.clear();
    FLineEnds.resize(kWriteOutAt / 16);
    FLineEnds.clear();
    TBatchQueue<TCaptureItem>::TBatch batch;
    while (FQueue.Take(batch, kGather)) FQueue.Done(WriteBatch(batch));
}

const std::string& TCaptureFile::LineOf(const TCaptureItem& Item) {
    if (const auto* line = std::get_if<std::string>(&Item)) return *line;
    FLine = FormatRecord(std::get<TTrafficRecord>(Item), FFormat);
    return FLine;
}

std::uint64_t TCaptureFile::WriteBatch(const TBatchQueue<TCaptureItem>::TBatch& Batch) {
    FFailed = false;
    std::uint64_t lost = 0;
    if (FFd < 0) Open();
    for (const auto& chunk : Batch)
        for (const TCaptureItem& item : chunk) {
            if (FFd < 0) {
                ++lost;
                continue;
            }
            const std::string& line = LineOf(item);
            // A line always goes whole into one file; one longer than the
            // limit has a file to itself.
            const std::uint64_t size = FSize + FBuffer.size();
            if (size > 0 && size + line.size() > FSizeLimit) {
                lost += WriteOut();
                Rotate();
                if (FFd < 0) {
                    ++lost;
                    continue;
                }
            }
            FBuffer += line;
            FLineEnds.push_back(FBuffer.size());
            // Written as it fills, the buffer stays within the pages touched
            // at the start however big the batch.
            if (FBuffer.size() >= kWriteOutAt) lost += WriteOut();
        }
    lost += WriteOut();
    if (!FFailed) {
        const std::lock_guard<std::mutex> lock(FErrorLock);
        FError.clear();
    }
    return lost;
}

std::uint64_t TCaptureFile::WriteOut() {
    std::size_t done = 0;
    int error = 0;
    while (done < FBuffer.size()) {
        const ssize_t n =
            ::write(FFd, FBuffer.data() + done, std::min(FBuffer.size() - done, kWriteChunk));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // Only whole lines stay in the file: a line cut short by a full disk is
    // taken back, so that the next one starts a line of its own.
    const auto whole = static_cast<std::size_t>(
        std::upper_bound(FLineEnds.begin(), FLineEnds.end(), done) - FLineEnds.begin());
    const std::size_t kept = whole > 0 ? FLineEnds[whole - 1] : 0;
    const std::uint64_t lost = FLineEnds.size() - whole;
    if (done > kept && ::ftruncate(FFd, static_cast<off_t>(FSize + kept)) != 0) error = errno;
    FSize += kept;
    FWritten.fetch_add(kept, std::memory_order_relaxed);
    FBuffer.clear();
    FLineEnds.clear();
    if (lost > 0) {
        Fail("cannot write " + FPath, error);
        // Opened afresh for the next batch, in case the trouble has passed.
        Close();
    }
    return lost;
}

bool TCaptureFile::Open() {
    FFd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (FFd < 0) {
        Fail("cannot open " + FPath, errno);
        return false;
    }
    struct stat st {};
    FSize = ::fstat(FFd, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return true;
}

void TCaptureFile::Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    FSize = 0;
}

void TCaptureFile::Rotate() {
    namespace fs = std::filesystem;
    Close();
    const auto numbered = [this](int N) { return fs::path(FPath + "." + std::to_string(N)); };
    std::error_code ec;
    if (FKeep <= 1) {
        fs::remove(FPath, ec);
        if (ec) Fail("cannot remove " + FPath, ec.value());
    } else {
        // The oldest goes as the one before it is renamed onto it.
        for (int n = FKeep - 2; n >= 1; --n) {
            fs::rename(numbered(n), numbered(n + 1), ec);
            if (ec && ec != std::errc::no_such_file_or_directory)
                Fail("cannot rename " + numbered(n).string(), ec.value());
        }
        fs::rename(FPath, numbered(1), ec);
        if (ec) Fail("cannot rename " + FPath, ec.value());
    }
    Open();
}

void TCaptureFile::Fail(std::string What, int Errno) {
    FFailed = true;
    const std::lock_guard<std::mutex> lock(FErrorLock);
    FError = std::move(What) + ": " + ErrnoText(Errno);
}

} // namespace volmar

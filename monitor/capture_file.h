// The capture file: lines appended by a thread of its own, so that a busy
// disk never holds up an answer on the line. The file is rotated before it
// passes its size limit: path becomes path.1, path.1 becomes path.2, and so
// on, the oldest removed. Records are formatted by that thread too, so the
// one that answers only hands them over.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "monitor/capture_format.h"
#include "monitor/line_writer.h"
#include "monitor/traffic_record.h"

namespace volmar {

// A line as it is, or a record to be formatted into one.
using TCaptureItem = std::variant<std::string, TTrafficRecord>;
std::size_t QueuedBytes(const TCaptureItem& Item);

class TCaptureFile {
public:
    static constexpr std::uint64_t kDefaultSizeLimit = 64ull * 1024 * 1024;
    static constexpr int kDefaultKeep = 10;
    static constexpr std::size_t kDefaultQueueLimit = 16 * 1024 * 1024;

    // Keep counts the file being written: Path, Path.1 .. Path.(Keep-1).
    // Records are written in Format.
    explicit TCaptureFile(std::string Path, std::uint64_t SizeLimit = kDefaultSizeLimit,
                          int Keep = kDefaultKeep, std::size_t QueueLimit = kDefaultQueueLimit,
                          TCaptureFormat Format = TCaptureFormat::Text);
    // Writes everything queued, then stops.
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Queues Line, which ends with a newline; never touches the disk.
    void Write(std::string Line);
    // Queues Record, to be formatted as a line by the writing thread.
    void Write(TTrafficRecord Record);
    // Waits at most about two seconds until every line queued is in the
    // file; true if they all are.
    bool Flush();

    // Bytes written to the files so far.
    std::uint64_t Written() const { return FWritten.load(std::memory_order_relaxed); }
    // Lines and records dropped for a full queue or lost to a file that failed.
    std::uint64_t Lost() const { return FQueue.Lost(); }
    // What last went wrong with the files; empty once a batch of lines has
    // gone to the file without trouble.
    std::string Error() const;

private:
    void Run();
    // Returns how many of the batch's lines were lost.
    std::uint64_t WriteBatch(const TBatchQueue<TCaptureItem>::TBatch& Batch);
    // Item as a line; a record is formatted into FLine.
    const std::string& LineOf(const TCaptureItem& Item);
    bool Open();
    void Close();
    void Rotate();
    // Writes the buffered lines to the file; returns how many were lost.
    std::uint64_t WriteOut();
    void Fail(std::string What, int Errno);

    const std::string FPath;
    const std::uint64_t FSizeLimit;
    const int FKeep;
    const TCaptureFormat FFormat;
    TBatchQueue<TCaptureItem> FQueue;
    std::atomic<std::uint64_t> FWritten{0};
    mutable std::mutex FErrorLock;
    std::string FError;

    // The writing thread's own.
    std::string FLine; // the record last formatted
    int FFd = -1;
    std::uint64_t FSize = 0;
    std::string FBuffer;
    std::vector<std::size_t> FLineEnds; // in FBuffer
    bool FFailed = false;

    std::thread FThread;
};

} // namespace volmar

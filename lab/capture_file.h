// The capture file: lines appended by a thread of its own, so that a busy
// disk never holds up an answer on the line. The file is rotated before it
// passes its size limit: path becomes path.1, path.1 becomes path.2, and so
// on, the oldest removed. Records are formatted by that thread too, so the
// one that answers only hands them over.
//
// The path may name a FIFO: it is opened and written without ever blocking,
// a FIFO with no reader fails like a file that cannot be opened, and it is
// never rotated; nor is a symbolic link (written through), nor anything
// rotation would replace that is not a regular file. Anything else there (a
// folder, a device, a socket) is refused. Records lost on the way (a failed
// write, no reader, a full queue) leave a "capture-lost" record where they
// were, written as soon as the file takes lines again. A pcapng file's
// "lines" are its blocks, and every opening starts a section of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "lab/capture_format.h"
#include "lab/line_writer.h"
#include "monitor/traffic_record.h"

namespace volmar {

// The line's state a replay starts from and ends with: written where each
// file's traffic begins (start-state and totals events) and at its end
// (totals).
struct TCaptureState {
    std::int32_t Baud = 0;
    std::string SpeedMode; // "auto", "1200", "9600"
    std::string Totals;    // "in=N out=N ...", as the control socket names them
    bool operator==(const TCaptureState&) const = default;
};

// A line as it is, a record to be formatted into one, or the state from
// this point in the queue on.
using TCaptureItem = std::variant<std::string, TTrafficRecord, TCaptureState>;
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
    // Writes everything queued, then stops; a FIFO's reader that does not
    // take it is given up on after about two seconds.
    ~TCaptureFile();
    TCaptureFile(const TCaptureFile&) = delete;
    TCaptureFile& operator=(const TCaptureFile&) = delete;

    // Queues Line, which ends with a newline; never touches the disk.
    void Write(std::string Line);
    // Queues Record, to be formatted as a line by the writing thread.
    void Write(TTrafficRecord Record);
    // The state from here on, for the edges of the files.
    void Write(TCaptureState State);
    // Waits at most Wait until every line queued is in the file; true if
    // they all are.
    bool Flush(std::chrono::milliseconds Wait = std::chrono::seconds(2));

    // Bytes written to the files so far.
    std::uint64_t Written() const { return FWritten.load(std::memory_order_relaxed); }
    // Lines and records dropped for a full queue or lost to a file that failed.
    std::uint64_t Lost() const { return FQueue.Lost(); }
    // What last went wrong with the files; empty once a batch of lines has
    // gone to the file without trouble.
    std::string Error() const;

private:
    using TQueue = TBatchQueue<TCaptureItem>;
    // A line in FBuffer: where it ends, its record's wall time (0: none),
    // and for a capture-lost line, how many records it stands for.
    struct TBuffered {
        std::size_t End;
        std::int64_t WallUs;
        std::uint64_t Marks;
    };

    void Run();
    // Returns how many of the batch's items were lost.
    std::uint64_t WriteBatch(const TQueue::TBatch& Batch, const TQueue::TGaps& Gaps);
    // Item as a line; a record is formatted into FLine.
    const std::string& LineOf(const TCaptureItem& Item);
    // Buffers Item, after the capture-lost line of a hole before it.
    std::uint64_t Put(const TCaptureItem& Item);
    // Buffers Line, rotating first if it would pass the limit; the lost count.
    std::uint64_t Append(const std::string& Line, std::int64_t WallUs, std::uint64_t Marks);
    // A line that did not go out: records it stood for join the hole; 1 for a record.
    std::uint64_t Lose(std::uint64_t Marks);
    // The capture-lost line for the hole, before a record of After (0: unknown).
    std::string HoleLine(std::int64_t AfterWallUs, std::int64_t AfterMonoUs) const;
    bool Open();
    void Close();
    void Rotate();
    // Writes the buffered lines to the file; returns how many records were lost.
    std::uint64_t WriteOut();
    // Waits until a FIFO takes more; false once the capture is stopping.
    bool WaitWritable() const;
    // Why Errno stopped the file, in the operator's words.
    std::string Reason(int Errno) const;
    void Fail(std::string Text);
    // The state's events as lines, stamped as the record after them (0: now).
    std::string StateLines(bool Start, std::int64_t WallUs, std::int64_t MonoUs) const;
    // Lines into the buffer, after the header when the file is new.
    void PutLines(const std::string& Lines, std::int64_t WallUs = 0, std::uint64_t Marks = 0);

    const std::string FPath;
    const std::uint64_t FSizeLimit;
    const int FKeep;
    const TCaptureFormat FFormat;
    TQueue FQueue;
    std::atomic<std::uint64_t> FWritten{0};
    // Set on the way out: a FIFO's reader is waited for no longer.
    std::atomic<bool> FStopping{false};
    mutable std::mutex FErrorLock;
    std::string FError;

    // The writing thread's own.
    std::string FLine; // the record last formatted
    int FFd = -1;
    std::uint64_t FSize = 0;
    // The state last queued; whether it is known, and whether the file in
    // use still waits for its top lines.
    TCaptureState FState;
    bool FStateKnown = false;
    bool FStartDue = true;
    bool FFifo = false;
    bool FHadReader = false;
    bool FRotates = false;
    // The section's header is still to go before the next line.
    bool FNeedHeader = false;
    std::string FBuffer;
    std::vector<TBuffered> FLines; // in FBuffer
    TQueue::TGaps FGaps;
    bool FFailed = false;
    // Records lost since the last one written, and that one's wall time.
    std::uint64_t FHole = 0;
    std::int64_t FLastWrittenUs = 0;

    std::thread FThread;
};

} // namespace volmar

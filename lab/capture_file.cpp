#include "lab/capture_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <limits>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dataport/file_store.h"
#include "lab/pcapng_format.h"

namespace volmar {

namespace {

namespace fs = std::filesystem;

// Long enough to make a batch worth a write, short enough that a person
// following the file sees the lines at once.
constexpr std::chrono::milliseconds kGather(100);
constexpr std::chrono::seconds kFlushWait(2);
// A FIFO that takes nothing is looked at again this often, and the
// capture's stopping with it.
constexpr int kPollSliceMs = 100;
// A write holds its core until the kernel has copied it all; in small
// pieces the machine's side and the answers get the core back in between.
constexpr std::size_t kWriteChunk = 16 * 1024;
// The buffer is written out once it holds this much.
constexpr std::size_t kWriteOutAt = 4 * kWriteChunk;

template <class TClock>
std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               TClock::now().time_since_epoch())
        .count();
}

const TTrafficRecord* RecordOf(const TCaptureItem& Item) {
    return std::get_if<TTrafficRecord>(&Item);
}

bool IsRegular(const fs::path& Path) {
    std::error_code ec;
    return fs::symlink_status(Path, ec).type() == fs::file_type::regular;
}

// Missing, or a regular file: what rotation may rename onto or remove.
bool Replaceable(const fs::path& Path, fs::file_type& Type) {
    std::error_code ec;
    Type = fs::symlink_status(Path, ec).type();
    return Type == fs::file_type::not_found || Type == fs::file_type::regular;
}

} // namespace

std::size_t QueuedBytes(const TCaptureItem& Item) {
    if (const auto* line = std::get_if<std::string>(&Item)) return line->size();
    if (const auto* state = std::get_if<TCaptureState>(&Item))
        return sizeof *state + state->Totals.size();
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
    FQueue.Drain(kFlushWait);
    FStopping = true;
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

void TCaptureFile::Write(TCaptureState State) {
    FQueue.Push(std::move(State));
}

bool TCaptureFile::Flush(std::chrono::milliseconds Wait) {
    return FQueue.Drain(Wait);
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
    FLines.resize(kWriteOutAt / 16);
    FLines.clear();
    FGaps.reserve(TQueue::kGapsKept);
    TQueue::TBatch batch;
    while (FQueue.Take(batch, kGather, &FGaps)) FQueue.Done(WriteBatch(batch, FGaps));
    // Records lost at the very end are marked too, if the file takes it.
    for (const TQueue::TGap& gap : FGaps) FHole += gap.Count;
    if (FHole > 0 && FFd < 0) Open();
    if (FFd < 0) return;
    if (FHole > 0) Append(HoleLine(0, 0), 0, FHole);
    // The file's last line: the totals it ends with, after the state it
    // began with if no traffic came.
    if (FStateKnown) PutLines(StateLines(FStartDue, 0, 0));
    WriteOut();
}

std::string TCaptureFile::StateLines(bool Start, std::int64_t WallUs, std::int64_t MonoUs) const {
    TTrafficRecord r = EventRecord(TLineEvent::Totals, 0, FState.Totals);
    r.WallUs = WallUs ? WallUs : Now<std::chrono::system_clock>();
    r.MonoUs = MonoUs ? MonoUs : Now<std::chrono::steady_clock>();
    if (!Start) return FormatRecord(r, FFormat);
    TTrafficRecord start = r;
    start.Event = TLineEvent::StartState;
    start.Value = FState.Baud;
    start.Detail = "speed mode " + FState.SpeedMode;
    return FormatRecord(start, FFormat) + FormatRecord(r, FFormat);
}

void TCaptureFile::PutLines(const std::string& Lines, std::int64_t WallUs, std::uint64_t Marks) {
    // A new file's header goes with its first lines, so that it is kept or taken back with them.
    if (FNeedHeader) FBuffer += PcapngHeader();
    FNeedHeader = false;
    FBuffer += Lines;
    FLines.push_back({FBuffer.size(), WallUs, Marks});
}

const std::string& TCaptureFile::LineOf(const TCaptureItem& Item) {
    if (const auto* line = std::get_if<std::string>(&Item)) return *line;
    FLine = FormatRecord(std::get<TTrafficRecord>(Item), FFormat);
    return FLine;
}

std::uint64_t TCaptureFile::WriteBatch(const TQueue::TBatch& Batch, const TQueue::TGaps& Gaps) {
    FFailed = false;
    std::uint64_t lost = 0;
    if (FFd < 0) Open();
    std::size_t index = 0;
    auto gap = Gaps.begin();
    for (const auto& chunk : Batch)
        for (const TCaptureItem& item : chunk) {
            for (; gap != Gaps.end() && gap->At <= index; ++gap) FHole += gap->Count;
            ++index;
            lost += FFd < 0 ? Lose(0) : Put(item);
        }
    for (; gap != Gaps.end(); ++gap) FHole += gap->Count;
    lost += WriteOut();
    if (!FFailed) {
        const std::lock_guard<std::mutex> lock(FErrorLock);
        FError.clear();
    }
    return lost;
}

std::uint64_t TCaptureFile::Put(const TCaptureItem& Item) {
    if (const auto* state = std::get_if<TCaptureState>(&Item)) {
        FState = *state;
        FStateKnown = true;
        return 0;
    }
    const TTrafficRecord* record = RecordOf(Item);
    const std::int64_t wall = record ? record->WallUs : 0;
    std::uint64_t lost = 0;
    // The state is written where the traffic begins: the port's opening
    // and its speed are settled by then.
    if (FStartDue && FStateKnown && record && record->Kind != TRecordKind::Event) {
        FStartDue = false;
        lost += Append(StateLines(true, wall, record ? record->MonoUs : 0), wall, 0);
    }
    if (FHole > 0) lost += Append(HoleLine(wall, record ? record->MonoUs : 0), 0, FHole);
    return lost + Append(LineOf(Item), wall, 0);
}

std::uint64_t TCaptureFile::Append(const std::string& Line, std::int64_t WallUs,
                                   std::uint64_t Marks) {
    // The hole is carried by its line from now on, or again by FHole if it is lost.
    if (Marks > 0) FHole = 0;
    std::uint64_t lost = 0;
    // A line always goes whole into one file; one longer than the limit
    // has a file to itself.
    const std::uint64_t size = FSize + FBuffer.size();
    const std::string header = FNeedHeader ? PcapngHeader() : std::string();
    if (FRotates && size > 0 && size + header.size() + Line.size() > FSizeLimit) {
        // The file ends with its totals, even past the limit.
        if (FStateKnown && !FStartDue) PutLines(StateLines(false, WallUs, 0));
        lost += WriteOut();
        Rotate();
        if (FStateKnown && FFd >= 0) {
            FStartDue = false;
            PutLines(StateLines(true, WallUs, 0));
        }
    }
    if (FFd < 0) return lost + Lose(Marks);
    PutLines(Line, WallUs, Marks);
    // Written as it fills, the buffer stays within the pages touched at the
    // start however big the batch.
    if (FBuffer.size() >= kWriteOutAt) lost += WriteOut();
    return lost;
}

std::uint64_t TCaptureFile::Lose(std::uint64_t Marks) {
    FHole += Marks > 0 ? Marks : 1;
    return Marks > 0 ? 0 : 1;
}

std::string TCaptureFile::HoleLine(std::int64_t AfterWallUs, std::int64_t AfterMonoUs) const {
    TTrafficRecord r;
    r.Kind = TRecordKind::Event;
    r.Event = TLineEvent::CaptureLost;
    r.Value = static_cast<std::int32_t>(
        std::min<std::uint64_t>(FHole, std::numeric_limits<std::int32_t>::max()));
    // Stamped as the record after it, so that the file stays in order.
    r.WallUs = AfterWallUs ? AfterWallUs : Now<std::chrono::system_clock>();
    r.MonoUs = AfterMonoUs ? AfterMonoUs : Now<std::chrono::steady_clock>();
    if (FLastWrittenUs && AfterWallUs)
        r.Detail = "between " + WallText(FLastWrittenUs) + " and " + WallText(AfterWallUs);
    else if (FLastWrittenUs)
        r.Detail = "after " + WallText(FLastWrittenUs);
    else if (AfterWallUs)
        r.Detail = "before " + WallText(AfterWallUs);
    return FormatRecord(r, FFormat);
}

std::uint64_t TCaptureFile::WriteOut() {
    std::size_t done = 0;
    int error = 0;
    while (done < FBuffer.size()) {
        const ssize_t n =
            ::write(FFd, FBuffer.data() + done, std::min(FBuffer.size() - done, kWriteChunk));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN && WaitWritable()) continue;
        if (n <= 0) {
            error = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // Only whole lines stay in the file: a line cut short by a full disk is
    // taken back, so that the next one starts a line of its own.
    const auto whole = static_cast<std::size_t>(
        std::upper_bound(FLines.begin(), FLines.end(), done,
                         [](std::size_t Done, const TBuffered& L) { return Done < L.End; }) -
        FLines.begin());
    const std::size_t kept = whole > 0 ? FLines[whole - 1].End : 0;
    for (std::size_t i = whole; i-- > 0;)
        if (FLines[i].Marks == 0 && FLines[i].WallUs != 0) {
            FLastWrittenUs = FLines[i].WallUs;
            break;
        }
    std::uint64_t lost = 0;
    for (std::size_t i = whole; i < FLines.size(); ++i) lost += Lose(FLines[i].Marks);
    if (done > kept && !FFifo && ::ftruncate(FFd, static_cast<off_t>(FSize + kept)) != 0)
        error = errno;
    FSize += kept;
    FWritten.fetch_add(kept, std::memory_order_relaxed);
    const bool failed = whole < FLines.size();
    FBuffer.clear();
    FLines.clear();
    if (failed) {
        Fail("cannot write " + FPath + ": " + Reason(error));
        // Opened afresh for the next batch, in case the trouble has passed.
        Close();
    }
    return lost;
}

bool TCaptureFile::WaitWritable() const {
    while (!FStopping.load()) {
        pollfd p{FFd, POLLOUT, 0};
        const int n = ::poll(&p, 1, kPollSliceMs);
        if (n > 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
    return false;
}

std::string TCaptureFile::Reason(int Errno) const {
    if (Errno == EPIPE || (Errno == ENXIO && FHadReader)) return "its reader has gone away";
    if (Errno == ENXIO) return "no one reads it";
    if (Errno == EAGAIN) return "its reader takes no more";
    return std::error_code(Errno, std::generic_category()).message();
}

bool TCaptureFile::Open() {
    // Refused before it is opened: opening a device can itself do something.
    std::error_code ec;
    fs::file_type type = fs::status(FPath, ec).type();
    const auto refuse = [this](fs::file_type Type) {
        Fail("cannot write " + FPath + ": it is " + FileTypeName(Type));
        return false;
    };
    if (type != fs::file_type::not_found && type != fs::file_type::none &&
        type != fs::file_type::regular && type != fs::file_type::fifo)
        return refuse(type);
    FFd = ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                 0666);
    if (FFd < 0) {
        const int error = errno;
        // A FIFO whose reader left reads as it did when the write failed.
        Fail((error == ENXIO && FHadReader ? "cannot write " : "cannot open ") + FPath + ": " +
             Reason(error));
        return false;
    }
    struct stat opened {};
    if (::fstat(FFd, &opened) != 0 || !(S_ISREG(opened.st_mode) || S_ISFIFO(opened.st_mode))) {
        Close();
        return refuse(fs::status(FPath, ec).type());
    }
    FFifo = S_ISFIFO(opened.st_mode);
    FHadReader = FHadReader || FFifo;
    // Only a file of its own at the path itself is ever renamed: not a
    // FIFO, and not a link or what it points to.
    FRotates = !FFifo && IsRegular(FPath);
    FSize = FFifo ? 0 : static_cast<std::uint64_t>(opened.st_size);
    // Appended to a file already there, a new section is valid pcapng too.
    FNeedHeader = FFormat == TCaptureFormat::Pcapng;
    return true;
}

void TCaptureFile::Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
    FSize = 0;
}

void TCaptureFile::Rotate() {
    Close();
    const auto numbered = [this](int N) { return fs::path(FPath + "." + std::to_string(N)); };
    // Renames From onto To only when both are regular files or To is missing.
    const auto move = [this](const fs::path& From, const fs::path& To) {
        fs::file_type type{};
        std::error_code ec;
        if (!IsRegular(From)) {
            if (fs::symlink_status(From, ec).type() != fs::file_type::not_found)
                Fail("cannot rotate " + From.string() + ": it is not a file of the capture's");
            return;
        }
        if (!Replaceable(To, type)) {
            Fail("cannot rotate " + From.string() + ": " + To.string() + " is " +
                 FileTypeName(type));
            return;
        }
        fs::rename(From, To, ec);
        if (ec) Fail("cannot rename " + From.string() + ": " + ec.message());
    };
    if (FKeep <= 1) {
        std::error_code ec;
        if (IsRegular(FPath)) fs::remove(FPath, ec);
        if (ec) Fail("cannot remove " + FPath + ": " + ec.message());
    } else {
        // The oldest goes as the one before it is renamed onto it.
        for (int n = FKeep - 2; n >= 1; --n) move(numbered(n), numbered(n + 1));
        move(FPath, numbered(1));
    }
    Open();
}

void TCaptureFile::Fail(std::string Text) {
    FFailed = true;
    const std::lock_guard<std::mutex> lock(FErrorLock);
    FError = std::move(Text);
}

} // namespace volmar

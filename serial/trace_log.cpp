#include "serial/trace_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial/port_errors.h"

namespace volmar {

namespace {

constexpr std::size_t kMaxFileName = 255;
constexpr int kMaxTraceColumn = 78;

void WriteFile(const std::string& Path, const std::string& Text, bool Append) {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (Append ? O_APPEND : O_TRUNC);
    const int fd = ::open(Path.c_str(), flags, 0666);
    if (fd < 0) throw EInOutError(errno);
    std::size_t done = 0;
    while (done < Text.size()) {
        const ssize_t n = ::write(fd, Text.data() + done, Text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            throw EInOutError(error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) throw EInOutError(errno);
}

// The entries oldest first: once the ring has wrapped, the oldest is at Next.
template <typename T>
std::vector<T> InOrder(const std::vector<T>& Ring, std::size_t Next, bool Wrapped) {
    if (!Wrapped) return Ring;
    std::vector<T> out;
    out.reserve(Ring.size());
    out.insert(out.end(), Ring.begin() + static_cast<std::ptrdiff_t>(Next), Ring.end());
    out.insert(out.end(), Ring.begin(), Ring.begin() + static_cast<std::ptrdiff_t>(Next));
    return out;
}

// Fills the ring up to its capacity, then overwrites the oldest entry.
// The storage grows with the entries so a large size costs nothing unused.
template <typename T>
void Put(std::vector<T>& Ring, std::size_t Capacity, std::size_t& Next, bool& Wrapped, T Entry) {
    if (Capacity == 0) return;
    if (!Wrapped) {
        Ring.push_back(std::move(Entry));
        if (Ring.size() == Capacity) Wrapped = true;
        return;
    }
    Ring[Next] = std::move(Entry);
    Next = (Next + 1) % Capacity;
}

} // namespace

TRecorder::TRecorder(std::uint32_t MaxSize, std::string FileName)
    : FMaxSize(MaxSize), FSize(std::min<std::uint32_t>(10000, MaxSize)) {
    SetFileName(FileName);
}

void TRecorder::SetFileName(const std::string& Value) {
    FFileName = Value.substr(0, kMaxFileName);
}

void TRecorder::SetState(TTraceLogState Value, bool PortOpen) {
    if (!PortOpen) {
        // A closed port has no buffer; only the wish to record is kept.
        FState = Value == tlOn ? tlOn : tlOff;
        return;
    }
    if (FState == tlOff) {
        if (Value == tlOn) {
            Allocate(FSize);
            FState = tlOn;
        }
        return;
    }
    switch (Value) {
    case tlOff:
        Discard();
        FState = tlOff;
        break;
    case tlOn:
        FState = tlOn;
        break;
    case tlDump:
    case tlAppend:
        Dump(Value == tlAppend);
        break;
    case tlClear:
        Allocate(FSize);
        break;
    case tlPause:
        FState = tlPause;
        break;
    }
}

void TRecorder::SetSize(std::uint32_t Value, bool PortOpen) {
    Value = std::min(Value, FMaxSize);
    if (Value == FSize) return;
    FSize = Value;
    if (!PortOpen || FState == tlOff) return;
    const bool wasOn = FState == tlOn;
    Discard();
    FState = tlOff;
    if (wasOn) {
        Allocate(FSize);
        FState = tlOn;
    }
}

void TRecorder::PortOpened() {
    if (FState == tlOn)
        Allocate(FSize);
    else
        FState = tlOff;
}

void TRecorder::PortClosing() { SetState(tlDump, true); }

void TRecorder::Dump(bool Append) {
    // The buffer goes and the recorder is off whether or not the file could
    // be written.
    const bool any = HasEntries();
    const std::string text = any ? Render() : std::string();
    Discard();
    FState = tlOff;
    if (any) WriteFile(FFileName, text, Append);
}

TTraceRecorder::TTraceRecorder(std::uint32_t MaxSize) : TRecorder(MaxSize, "Dunmoral.Trc") {}

void TTraceRecorder::Record(char Kind, std::uint8_t Byte) {
    if (!Recording()) return;
    Put(FRing, FCapacity, FNext, FWrapped, std::pair<char, std::uint8_t>(Kind, Byte));
}

std::vector<std::pair<char, std::uint8_t>> TTraceRecorder::Entries() const {
    return InOrder(FRing, FNext, FWrapped);
}

void TTraceRecorder::Allocate(std::uint32_t Size) {
    Discard();
    FCapacity = Size;
}

void TTraceRecorder::Discard() {
    FRing.clear();
    FRing.shrink_to_fit();
    FNext = 0;
    FWrapped = false;
    FCapacity = 0;
}

bool TTraceRecorder::HasEntries() const { return !FRing.empty(); }

std::string TTraceRecorder::Render() const { return RenderTrace(Entries(), Hex()); }

TLogRecorder::TLogRecorder(std::uint32_t MaxSize) : TRecorder(MaxSize, "Dunmoral.Log") {}

void TLogRecorder::Record(std::uint32_t TimeMs, std::string Text) {
    if (!Recording()) return;
    Put(FRing, FCapacity, FNext, FWrapped,
        std::pair<std::uint32_t, std::string>(TimeMs, std::move(Text)));
}

std::vector<std::pair<std::uint32_t, std::string>> TLogRecorder::Entries() const {
    return InOrder(FRing, FNext, FWrapped);
}

void TLogRecorder::Allocate(std::uint32_t Size) {
    Discard();
    FCapacity = Size;
}

void TLogRecorder::Discard() {
    FRing.clear();
    FRing.shrink_to_fit();
    FNext = 0;
    FWrapped = false;
    FCapacity = 0;
}

bool TLogRecorder::HasEntries() const { return !FRing.empty(); }

// One line an entry: the port clock's seconds and milliseconds, a blank and
// the text. Lines end in "\n", the convention of text files on Linux.
std::string TLogRecorder::Render() const {
    std::string out;
    for (const auto& [ms, text] : Entries()) {
        const std::string fraction = std::to_string(ms % 1000);
        out += std::to_string(ms / 1000);
        out += '.';
        out.append(3 - fraction.size(), '0');
        out += fraction;
        out += ' ';
        out += text;
        out += '\n';
    }
    return out;
}

// Each run is a header line, then its bytes on lines of their own. Lines end
// in "\n", the convention of text files on Linux; the last line is ended
// too.
std::string RenderTrace(const std::vector<std::pair<char, std::uint8_t>>& Entries, bool Hex) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    int column = 0;
    bool first = true;
    char kind = 0;
    for (const auto& [entryKind, byte] : Entries) {
        if (first || entryKind != kind) {
            if (!first) out += "\n\n";
            first = false;
            kind = entryKind;
            if (kind == 'T')
                out += "Transmit: ";
            else if (kind == 'R')
                out += "Receive: ";
            else {
                out += "Special-";
                out += kind;
                out += ": ";
            }
            out += '\n';
            column = 0;
        }
        const bool printable = byte >= (Hex ? 0x21 : 0x20) && byte <= 0x7E;
        std::string item;
        if (printable) {
            item = static_cast<char>(byte);
        } else if (Hex) {
            item = {'[', kDigits[byte >> 4], kDigits[byte & 0x0F], ']'};
        } else {
            // Appended, not "[" + std::to_string(...): GCC 12 at -O3 warns
            // falsely (-Wrestrict) about a literal put before a temporary string.
            item = '[';
            item += std::to_string(byte);
            item += ']';
        }
        const int width = static_cast<int>(item.size());
        column += width;
        if (column > kMaxTraceColumn) {
            out += '\n';
            column = width;
        }
        out += item;
    }
    if (!first) out += '\n';
    return out;
}

} // namespace volmar

// A capture file read back, for a replay: every line a record, or the file
// is refused, naming the line (a pcapng one names the block). Each format
// the capture writes has a reader here, picked by what the file begins with.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace volmar {

enum class TCapturedKind : std::uint8_t { Frame, Reply, Discarded, Event };

struct TCapturedRecord {
    int Line = 0; // in the file, from 1 (pcapng: the packet's number)
    TCapturedKind Kind = TCapturedKind::Event;
    std::string Wall; // local time as written, "2026-07-14 09:05:03.000042"
    std::int64_t MonoUs = 0;
    // A frame or a discarded run: when its first byte came (0: not recorded).
    std::int64_t FirstMonoUs = 0;
    // The frame's bytes, the reply's byte, the bytes discarded.
    std::vector<std::uint8_t> Bytes;
    // A frame: "valid", or "invalid" with why ("invalid: gap").
    std::string Verdict;
    // A reply: "answer", "first-message NAK" or "silence NAK", and whether
    // the port refused it (it never reached the line).
    std::string Cause;
    bool Dropped = false;
    // An event: its name ("start-state", "totals", ...), its number (the
    // baud for start-state) and its detail.
    std::string Event;
    std::int64_t Value = 0;
    std::string Detail;

    bool operator==(const TCapturedRecord&) const = default;
};

struct TCapturedSession {
    std::string Format; // "text", "jsonl", "pcapng"
    std::vector<TCapturedRecord> Records;
};

// What is wrong with a capture: what() is "<file>:<line>: <what>", or
// "<file>: <what>" for the file as a whole.
class ECaptureError : public std::runtime_error {
public:
    ECaptureError(const std::string& File, int Line, const std::string& What);
    int Line() const { return FLine; }

private:
    int FLine;
};

// The records of Content, read as the format its first line asks for.
// Name is the file's name in messages.
TCapturedSession ParseCapture(std::string_view Content, const std::string& Name);

// The capture at Path; only a regular file is read (a FIFO or a device is
// refused by name, never waited on).
TCapturedSession ReadCapture(const std::string& Path);

} // namespace volmar

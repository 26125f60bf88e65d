// The machine's script: what to send, how long to wait, and what answer to
// expect. The whole text is parsed before anything goes on the line, so a
// mistake on the last line stops the run before the first message.
//
//   send <message> [retry] [noretry] [args...] [-> Ack|Nak|Esc|none]
//   raw <hex bytes and ~MS pauses> [wait=MS] [-> answer]
//   pause <ms>
//   rts on|off
//
// '#' starts a comment; keywords, answers and names ignore case.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace volmar::machine {

// The answer a line expects.
enum class TReply : std::uint8_t { None, Ack, Nak, Esc, Other };

// "Ack", "Nak", "Esc", "none" (any case); nothing for other words.
std::optional<TReply> ParseReply(std::string_view Word);
const char* ReplyWord(TReply Reply);

// Bytes sent together, after a pause.
struct TRawSegment {
    int PauseMs = 0;
    std::vector<std::uint8_t> Bytes;
};

struct TStep {
    enum TKind : std::uint8_t { skSend, skRaw, skPause, skRts };
    TKind Kind = skSend;
    int Line = 0;

    // send: the header as first sent (bit 7 set for "retry") and the data.
    std::uint8_t Header = 0;
    std::vector<std::uint8_t> Data;
    bool AutoRetry = true;

    // raw
    std::vector<TRawSegment> Segments;
    std::optional<int> WaitMs;

    // send and raw
    std::optional<TReply> Expect;

    int PauseMs = 0;  // pause
    bool Rts = false; // rts
};

struct TScript {
    std::vector<TStep> Steps;
};

// A mistake in a script: what() is "<file>:<line>: <what is wrong>".
class EScriptError : public std::runtime_error {
  public:
    EScriptError(const std::string& File, int Line, const std::string& What);
    int Line() const { return FLine; }
    const std::string& Reason() const { return FReason; }

  private:
    int FLine;
    std::string FReason;
};

// Longest pause, raw gap or raw wait a script may ask for: one day.
inline constexpr int kMaxScriptMs = 86400000;

TScript ParseScript(std::string_view Text, const std::string& FileName);

} // namespace volmar::machine

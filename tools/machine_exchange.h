// One exchange on the line: the machine sends a frame and waits for the
// one-byte answer; on a NAK or silence it sends again with bit 7 set, up to
// its retry limit. The line itself is behind IMachineLine so that the logic
// runs on a serial port, a pseudo-terminal or a test's fake alike.
#pragma once

#include "tools/machine_script.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace volmar::machine {

// The line went away (the other end closed it, the device was unplugged).
class ELineGone : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A signal asked the machine to stop; every wait ends with this.
class EStopRequested : public std::exception {
  public:
    const char* what() const noexcept override { return "stop requested"; }
};

class IMachineLine {
  public:
    virtual ~IMachineLine() = default;
    // Hands the bytes to the line; they go out in order, without waiting.
    virtual void Send(const std::vector<std::uint8_t>& Bytes) = 0;
    // The next byte that arrives within TimeoutMs, or nothing.
    virtual std::optional<std::uint8_t> WaitByte(int TimeoutMs) = 0;
    // Drops the bytes that arrived while no answer was awaited.
    virtual void DiscardInput() = 0;
    // Lets Ms pass; bytes that arrive meanwhile wait for DiscardInput.
    virtual void Idle(int Ms) = 0;
    virtual void SetRTS(bool On) = 0;
    // Every call may raise EStopRequested or ELineGone.
};

struct TLineTiming {
    int ReplyTimeoutMs = 1000;
    int Retries = 3;
};

// The dataport's rules broken on purpose, to show that the simulator's
// judge catches each breach.
struct TBreaches {
    bool NoRepeatBit = false;    // resends without bit 7
    bool OtherData = false;      // resends with the last data byte changed
    bool GiveUp = false;         // never resends
    bool ResendAcked = false;    // sends each acknowledged message again with bit 7
    bool ResendAfterEsc = false; // resends a message refused with ESC
    bool Gap = false;            // a pause inside every kSpoilEvery-th message
    bool BadChecksum = false;    // a wrong checksum on every kSpoilEvery-th message
};
inline constexpr int kSpoilEvery = 4;
// Well beyond the simulator's limit of a gap inside a frame.
inline constexpr int kBreachGapMs = 300;

using TWallClock = std::chrono::system_clock;

struct TAnswer {
    TReply Kind = TReply::None;
    std::uint8_t Byte = 0; // as received, for Other
};
TAnswer AnswerOf(std::uint8_t Byte);
// "Ack", "Nak", "Esc", "none", or the byte as "3Fh".
std::string AnswerText(const TAnswer& Answer);

struct TExchange {
    std::vector<std::uint8_t> Frame;       // as first sent
    TAnswer Answer;                        // the final one
    std::optional<std::int64_t> LatencyUs; // from the last send to the answer
    int Retries = 0;                       // resends
    TWallClock::time_point Started;        // the first send
};

// "HH:MM:SS.mmm  <frame>  <answer>  <µs or ->  retries=<n>", local time, and
// " expected <X>" when an expectation did not hold.
std::string FormatExchangeLine(const TExchange& Exchange,
                               std::optional<TReply> UnmetExpectation = std::nullopt);

class TExchanger {
  public:
    TExchanger(IMachineLine& Line, TLineTiming Timing, TBreaches Breaches = {})
        : FLine(Line), FTiming(Timing), FBreaches(Breaches) {}

    // A message framed with its checksum; resends with bit 7 set on NAK or
    // silence while AutoRetry and the limit allow.
    TExchange Send(std::uint8_t Header, const std::vector<std::uint8_t>& Data,
                   bool AutoRetry = true);
    // Bytes as they are, with pauses between segments; the answer is the
    // first byte within WaitMs (the reply timeout when not given) after the
    // last byte. Never resent.
    TExchange Raw(const std::vector<TRawSegment>& Segments, std::optional<int> WaitMs);

    const TLineTiming& Timing() const { return FTiming; }

  private:
    // Sends and waits once; fills the answer and the latency.
    void Once(const std::vector<std::uint8_t>& Bytes, int WaitMs, TExchange& Out);

    IMachineLine& FLine;
    TLineTiming FTiming;
    TBreaches FBreaches;
    int FMessages = 0;
};

// Runs the steps in order and prints one line per exchange to Out. Returns
// 0 when every expectation held, else 1; an EStopRequested ends the run
// early with the status so far. ELineGone passes through.
int RunScript(const TScript& Script, TExchanger& Exchanger, IMachineLine& Line, std::ostream& Out);

} // namespace volmar::machine

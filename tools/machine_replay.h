// A captured session played again from the machine's side: every byte the
// machine sent, in its order and with its pauses, each frame waiting for
// its answer as the captured machine did, and each answer compared with the
// one captured.
#pragma once

#include "lab/capture_reader.h"
#include "tools/machine_exchange.h"

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace volmar::machine {

// What the machine sent until the simulator answered: a frame, or a frame
// given up and the bytes thrown away after it, each part at its own time.
struct TReplayStep {
    struct TPart {
        std::int64_t OffsetUs = 0; // after the step's first byte
        std::vector<std::uint8_t> Bytes;
    };
    int Line = 0;             // the capture's line of its first record
    std::string Wall;         // the captured time of its first record
    std::int64_t StartUs = 0; // the capture's monotonic time of its first byte
    std::vector<TPart> Parts;
    // The answer captured; none when nothing reached the line. Missing:
    // the capture holds no answer to it at all.
    std::optional<std::uint8_t> Answer;
    bool AnswerMissing = false;
};

struct TReplayPlan {
    std::vector<TReplayStep> Steps;
    // From the capture's start-state and totals events, when it has them.
    std::optional<std::int32_t> StartBaud;
    std::string StartSpeedMode;
    std::string StartTotals; // "in=N out=N ..."
    std::string EndTotals;
    int RecordsLost = 0; // told by capture-lost events
};

TReplayPlan PlanReplay(const TCapturedSession& Session);

// --pace recorded (1), xN (N), or fast (0: one step after the other's answer).
struct TReplayPace {
    double Speed = 1.0;
    bool Fast() const { return Speed == 0.0; }
};

struct TReplayCounts {
    int Played = 0;
    int Equal = 0;
    int Different = 0;
    int Missing = 0; // answers the capture does not hold
};

// Plays the steps, one exchange line each to Out, a "difference:" line
// after each answer that differs and the summary at the end. An
// EStopRequested ends it early with the counts so far.
TReplayCounts RunReplay(const TReplayPlan& Plan, TReplayPace Pace, int ReplyTimeoutMs,
                        IMachineLine& Line, std::ostream& Out);

// "replay: N frames played, ..."
std::string ReplaySummary(const TReplayCounts& Counts);

// "in=3 out=0" as names and values; names keep their order of no account.
std::map<std::string, std::int64_t> ParseTotals(const std::string& Text);
// "games captured 12, now 11; ..." for every total that differs; empty when none.
std::string TotalsDifference(const std::map<std::string, std::int64_t>& Captured,
                             const std::map<std::string, std::int64_t>& Now);

} // namespace volmar::machine

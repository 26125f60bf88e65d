// TVerdict: how the machine keeps the dataport's rules, judged from the
// traffic records alone. Each frame is judged against the one before it by
// what that one was answered: a NAK or no answer asks for the same code and
// data again with bit 7 set, an ACK for something new, an ESC for no resend.
// Frames must be whole, and the totals may be held against those expected.
#pragma once

#include <QJsonObject>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "monitor/traffic_record.h"

namespace volmar {

enum TRule : std::uint8_t {
    ruResendAfterNak,     // 1
    ruResendAfterSilence, // 2
    ruNoRepeatAfterAck,   // 3
    ruNoResendAfterEsc,   // 4
    ruWholeFrames,        // 5
    ruBooks,              // 6
    ruCount,
};

struct TRuleName {
    const char* Key;  // as the control socket and the exports name it
    const char* Text; // as the Statistics page shows it
};
extern const std::array<TRuleName, ruCount> RuleNames;

// One time the machine broke a rule.
struct TRuleExample {
    std::int64_t WallUs = 0;
    std::string Frames;   // as sent, "69 02 00 64 0B  then  69 02 00 64 0B"
    std::string Found;    // "resent without the repeat bit"
    std::string Expected; // "the same code and data again, with bit 7 set"
};

struct TRuleState {
    std::uint64_t Judged = 0; // opportunities the machine had
    std::uint64_t Broken = 0;
    std::int64_t LastBrokenWallUs = 0;
    std::vector<TRuleExample> Examples; // the first few
};

enum class TRuleStatus : std::uint8_t { NotYetSeen, Pass, Fail };
// "not yet seen", "pass", "fail"
const char* RuleStatusText(TRuleStatus Status);

// What followed a message, judged.
struct TJudgement {
    // The message judged: its number among the frames, counted from 1.
    std::uint64_t Message = 0;
    // The rule that judged it; ruCount when no rule applies (the answer was
    // garbled or came late: then both a resend and a new message are right).
    TRule Rule = ruCount;
    bool Broken = false;
    // The next frame is the same code and data with bit 7 set.
    bool Resend = false;
    // From the end of the message to the end of the next frame.
    std::int64_t WaitUs = 0;
    TRuleExample Example;
};

class TVerdict {
public:
    static constexpr std::size_t kExamplesKept = 5;
    // The design's limit of a gap inside a frame.
    static std::int64_t GapLimitUs();

    void Judge(const TTrafficRecord& Record);
    // Totals expected by name ("in", "games", ...); none: the books are not judged.
    void SetExpectedTotals(std::map<std::string, std::int64_t> Totals);
    const std::map<std::string, std::int64_t>& ExpectedTotals() const { return FExpected; }
    // Holds the totals counted now against those expected; the books'
    // state is this check's. Returns the totals that differ.
    std::vector<TRuleExample> CheckBooks(const std::map<std::string, std::int64_t>& Counted,
                                         std::int64_t WallUs);
    void Clear();

    const TRuleState& operator[](TRule Rule) const { return FRules[Rule]; }
    // Frames seen so far; the last one's number.
    std::uint64_t Frames() const { return FFrames; }
    TRuleStatus Status(TRule Rule) const;

    // Every message judged by what followed it, and every broken rule.
    std::function<void(const TJudgement& Judgement)> OnJudged;
    std::function<void(TRule Rule, const TRuleExample& Example)> OnBroken;

    // The figures beside the rules.
    struct TSpread {
        std::uint64_t Count = 0;
        std::int64_t Min = 0, Max = 0, Sum = 0;
        void Add(std::int64_t Value);
    };
    const TSpread& GaveUpAfter() const { return FGaveUpAfter; } // resends, rules 1 and 2
    const TSpread& ResendWaitUs() const { return FResendWaitUs; } // rule 2
    std::int64_t LargestGapUs() const { return FLargestGapUs; }
    std::uint64_t FrameFaults(TFrameFault Fault) const { return FFrameFaults[Fault]; }

private:
    enum TAnswer : std::uint8_t { anNone, anAck, anNak, anEsc, anGarbled, anLate };
    struct TExchange {
        bool Open = false;
        bool Whole = false;
        TRecordBytes Bytes;
        std::int64_t MonoUs = 0;
        TAnswer Answer = anNone;
        bool Delayed = false; // a late answer was promised
        int Resends = 0;      // before this one, in its chain
    };
    void Frame(const TTrafficRecord& R);
    void Reply(const TTrafficRecord& R);
    TJudgement JudgeNext(const TTrafficRecord& Next);
    void Count(TRule Rule, bool Broken, const TRuleExample& Example);

    std::array<TRuleState, ruCount> FRules{};
    std::uint64_t FFrames = 0;
    TExchange FLast;
    std::map<std::string, std::int64_t> FExpected;
    TSpread FGaveUpAfter;
    TSpread FResendWaitUs;
    std::int64_t FLargestGapUs = 0;
    // When the last NAK while waiting for a first message went out; -1: none since the last frame.
    std::int64_t FFirstMessageNakUs = -1;
    std::array<std::uint64_t, ffLineError + 1> FFrameFaults{};
};

// The verdict as the control socket and the JSON export give it.
QJsonObject VerdictJson(const TVerdict& Verdict);

} // namespace volmar

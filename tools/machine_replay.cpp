#include "tools/machine_replay.h"

#include "dataport/message.h"
#include "serial/byte_text.h"

#include <algorithm>
#include <chrono>
#include <sstream>

namespace volmar::machine {

namespace {

using Steady = std::chrono::steady_clock;

// The replies that answer what the machine sent; a first-message NAK
// answers nothing and is left out.
bool Answers(const TCapturedRecord& R) {
    return R.Kind == TCapturedKind::Reply && (R.Cause == "answer" || R.Cause == "silence NAK");
}

std::string AnswerWord(std::optional<std::uint8_t> Byte) {
    return Byte ? AnswerText(AnswerOf(*Byte)) : std::string("none");
}

std::vector<std::uint8_t> AllBytes(const TReplayStep& Step) {
    std::vector<std::uint8_t> bytes;
    for (const TReplayStep::TPart& p : Step.Parts)
        bytes.insert(bytes.end(), p.Bytes.begin(), p.Bytes.end());
    return bytes;
}

int Ms(std::int64_t Us) {
    return static_cast<int>(std::clamp<std::int64_t>((Us + 999) / 1000, 0, 86400000));
}

} // namespace

TReplayPlan PlanReplay(const TCapturedSession& Session) {
    TReplayPlan plan;
    std::optional<TReplayStep> open;
    const auto close = [&](std::optional<std::uint8_t> Answer, bool Missing) {
        if (!open) return;
        open->Answer = Answer;
        open->AnswerMissing = Missing;
        plan.Steps.push_back(std::move(*open));
        open.reset();
    };
    for (const TCapturedRecord& r : Session.Records) {
        switch (r.Kind) {
        case TCapturedKind::Frame:
        case TCapturedKind::Discarded: {
            // A frame after a frame that got no answer: the capture lacks it.
            if (r.Kind == TCapturedKind::Frame && open) close(std::nullopt, true);
            // A capture that did not record when the bytes came has only
            // the time they were framed.
            const std::int64_t at = r.FirstMonoUs != 0 ? r.FirstMonoUs : r.MonoUs;
            if (!open) {
                open.emplace();
                open->Line = r.Line;
                open->Wall = r.Wall;
                open->StartUs = at;
            }
            open->Parts.push_back({std::max<std::int64_t>(0, at - open->StartUs), r.Bytes});
            break;
        }
        case TCapturedKind::Reply:
            if (Answers(r))
                close(r.Dropped || r.Bytes.empty() ? std::nullopt
                                                   : std::optional<std::uint8_t>(r.Bytes.front()),
                      false);
            break;
        case TCapturedKind::Event:
            if (r.Event == "start-state" && !plan.StartBaud) {
                plan.StartBaud = static_cast<std::int32_t>(r.Value);
                plan.StartSpeedMode =
                    r.Detail.starts_with("speed mode ") ? r.Detail.substr(11) : r.Detail;
            } else if (r.Event == "totals") {
                if (plan.Steps.empty() && !open && plan.StartTotals.empty())
                    plan.StartTotals = r.Detail;
                plan.EndTotals = r.Detail;
            } else if (r.Event == "capture-lost") {
                plan.RecordsLost += static_cast<int>(r.Value);
            }
            break;
        }
    }
    close(std::nullopt, true);
    // Totals seen only before any traffic are where it began, not where it ended.
    if (plan.Steps.empty()) plan.EndTotals.clear();
    return plan;
}

TReplayCounts RunReplay(const TReplayPlan& Plan, TReplayPace Pace, int ReplyTimeoutMs,
                        IMachineLine& Line, std::ostream& Out) {
    TReplayCounts counts;
    auto due = Steady::now();
    try {
        for (std::size_t i = 0; i < Plan.Steps.size(); ++i) {
            const TReplayStep& step = Plan.Steps[i];
            if (!Pace.Fast() && i > 0) {
                // A new session in the same file starts its clock afresh.
                const std::int64_t since =
                    std::max<std::int64_t>(0, step.StartUs - Plan.Steps[i - 1].StartUs);
                due += std::chrono::microseconds(
                    static_cast<std::int64_t>(static_cast<double>(since) / Pace.Speed));
                const auto left =
                    std::chrono::duration_cast<std::chrono::microseconds>(due - Steady::now());
                if (left.count() > 0) Line.Idle(Ms(left.count()));
            }
            TExchange x;
            x.Started = TWallClock::now();
            x.Frame = AllBytes(step);
            Line.DiscardInput();
            // The pauses inside a step stay as they were at every pace:
            // shortened, a gap would no longer break the frame.
            const auto first = Steady::now();
            for (const TReplayStep::TPart& part : step.Parts) {
                const auto at = first + std::chrono::microseconds(part.OffsetUs);
                const auto left =
                    std::chrono::duration_cast<std::chrono::microseconds>(at - Steady::now());
                if (left.count() > 0) Line.Idle(Ms(left.count()));
                Line.Send(part.Bytes);
            }
            const auto sent = Steady::now();
            int wait = ReplyTimeoutMs;
            // Recorded, a step the capture saw unanswered waits no longer
            // than the captured machine did before it sent the next.
            if (!Pace.Fast() && step.AnswerMissing && i + 1 < Plan.Steps.size()) {
                const std::int64_t until = Plan.Steps[i + 1].StartUs - step.StartUs;
                wait = std::min(
                    wait, Ms(static_cast<std::int64_t>(static_cast<double>(until) / Pace.Speed)));
            }
            const std::optional<std::uint8_t> now = Line.WaitByte(wait);
            if (now) {
                x.Answer = AnswerOf(*now);
                x.LatencyUs =
                    std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - sent)
                        .count();
            }
            ++counts.Played;
            Out << FormatExchangeLine(x) << '\n';
            if (step.AnswerMissing) {
                ++counts.Missing;
            } else if (step.Answer == now) {
                ++counts.Equal;
            } else {
                ++counts.Different;
                Out << "difference: " << step.Wall << " (line " << step.Line << ")  "
                    << HexBytes(x.Frame.data(), x.Frame.size()) << "  captured "
                    << AnswerWord(step.Answer) << "  now " << AnswerWord(now) << '\n';
            }
            Out.flush();
        }
    } catch (const EStopRequested&) {
    }
    Out << ReplaySummary(counts) << std::endl;
    return counts;
}

std::string ReplaySummary(const TReplayCounts& Counts) {
    return "replay: " + std::to_string(Counts.Played) + " frames played, " +
           std::to_string(Counts.Equal) + " answers equal, " + std::to_string(Counts.Different) +
           " different, " + std::to_string(Counts.Missing) + " without an answer in the capture";
}

std::map<std::string, std::int64_t> ParseTotals(const std::string& Text) {
    std::map<std::string, std::int64_t> totals;
    std::istringstream words(Text);
    for (std::string word; words >> word;) {
        const std::size_t eq = word.find('=');
        if (eq == std::string::npos) continue;
        try {
            totals[word.substr(0, eq)] = std::stoll(word.substr(eq + 1));
        } catch (const std::exception&) {
        }
    }
    return totals;
}

std::string TotalsDifference(const std::map<std::string, std::int64_t>& Captured,
                             const std::map<std::string, std::int64_t>& Now) {
    std::string text;
    for (const auto& [name, value] : Captured) {
        const auto now = Now.find(name);
        if (now != Now.end() && now->second == value) continue;
        if (!text.empty()) text += "; ";
        text += name + " captured " + std::to_string(value) + ", now " +
                (now == Now.end() ? std::string("not told") : std::to_string(now->second));
    }
    return text;
}

} // namespace volmar::machine

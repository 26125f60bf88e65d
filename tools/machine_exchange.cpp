#include "tools/machine_exchange.h"

#include "dataport/message.h"
#include "tools/machine_messages.h"

#include <cstdio>
#include <time.h>

namespace volmar::machine {

using Steady = std::chrono::steady_clock;

TAnswer AnswerOf(std::uint8_t Byte) {
    switch (Byte) {
    case kAck: return {TReply::Ack, Byte};
    case kNak: return {TReply::Nak, Byte};
    case kEsc: return {TReply::Esc, Byte};
    default: return {TReply::Other, Byte};
    }
}

std::string AnswerText(const TAnswer& Answer) {
    if (Answer.Kind == TReply::Other) return CodeText(Answer.Byte);
    return ReplyWord(Answer.Kind);
}

std::string FormatExchangeLine(const TExchange& Exchange, std::optional<TReply> UnmetExpectation) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Exchange.Started.time_since_epoch())
            .count();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms % 1000));
    std::string line = stamp;
    line += "  " + HexBytes(Exchange.Frame.data(), Exchange.Frame.size());
    line += "  " + AnswerText(Exchange.Answer);
    line += "  " + (Exchange.LatencyUs ? std::to_string(*Exchange.LatencyUs) : std::string("-"));
    line += "  retries=" + std::to_string(Exchange.Retries);
    if (UnmetExpectation) line += std::string(" expected ") + ReplyWord(*UnmetExpectation);
    return line;
}

void TExchanger::Once(const std::vector<std::uint8_t>& Bytes, int WaitMs, TExchange& Out) {
    const auto sent = Steady::now();
    FLine.Send(Bytes);
    const auto byte = FLine.WaitByte(WaitMs);
    if (byte) {
        Out.Answer = AnswerOf(*byte);
        Out.LatencyUs =
            std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - sent).count();
    } else {
        Out.Answer = {};
        Out.LatencyUs.reset();
    }
}

TExchange TExchanger::Send(std::uint8_t Header, const std::vector<std::uint8_t>& Data,
                           bool AutoRetry) {
    TExchange x;
    x.Frame = BuildMessageFrame(Header, Data);
    x.Started = TWallClock::now();
    FLine.DiscardInput();
    const bool spoil = ++FMessages % kSpoilEvery == 0;
    std::vector<std::uint8_t> first = x.Frame;
    if (spoil && FBreaches.BadChecksum) first.back() ^= 0xFF;
    if (spoil && FBreaches.Gap && first.size() > 1) {
        FLine.Send({first.front()});
        FLine.Idle(kBreachGapMs);
        first.erase(first.begin());
    }
    Once(first, FTiming.ReplyTimeoutMs, x);
    // A resend is marked with bit 7, so the checksum changes with it.
    std::vector<std::uint8_t> data = Data;
    if (FBreaches.OtherData && !data.empty()) data.back() ^= 0x01;
    const std::vector<std::uint8_t> resend = BuildMessageFrame(
        static_cast<std::uint8_t>(FBreaches.NoRepeatBit ? Header : Header | 0x80), data);
    const auto resendOnce = [&] {
        ++x.Retries;
        FLine.DiscardInput();
        Once(resend, FTiming.ReplyTimeoutMs, x);
    };
    const auto resendWhileRefused = [&] {
        for (int left = FBreaches.GiveUp ? 0 : FTiming.Retries;
             AutoRetry && left > 0 &&
             (x.Answer.Kind == TReply::Nak || x.Answer.Kind == TReply::None);
             --left)
            resendOnce();
    };
    resendWhileRefused();
    // A resend made in breach is itself resent as any message is.
    if ((FBreaches.ResendAcked && x.Answer.Kind == TReply::Ack) ||
        (FBreaches.ResendAfterEsc && x.Answer.Kind == TReply::Esc)) {
        resendOnce();
        resendWhileRefused();
    }
    return x;
}

TExchange TExchanger::Raw(const std::vector<TRawSegment>& Segments, std::optional<int> WaitMs) {
    TExchange x;
    x.Started = TWallClock::now();
    FLine.DiscardInput();
    for (std::size_t i = 0; i < Segments.size(); ++i) {
        const TRawSegment& s = Segments[i];
        x.Frame.insert(x.Frame.end(), s.Bytes.begin(), s.Bytes.end());
        if (s.PauseMs > 0) FLine.Idle(s.PauseMs);
        if (i + 1 < Segments.size()) {
            FLine.Send(s.Bytes);
        } else {
            // Only what comes after the last byte answers it.
            FLine.DiscardInput();
            Once(s.Bytes, WaitMs.value_or(FTiming.ReplyTimeoutMs), x);
        }
    }
    return x;
}

int RunScript(const TScript& Script, TExchanger& Exchanger, IMachineLine& Line, std::ostream& Out) {
    int status = 0;
    try {
        for (const TStep& step : Script.Steps) {
            switch (step.Kind) {
            case TStep::skSend:
            case TStep::skRaw: {
                const TExchange x = step.Kind == TStep::skSend
                                        ? Exchanger.Send(step.Header, step.Data, step.AutoRetry)
                                        : Exchanger.Raw(step.Segments, step.WaitMs);
                std::optional<TReply> unmet;
                if (step.Expect && *step.Expect != x.Answer.Kind) {
                    unmet = step.Expect;
                    status = 1;
                }
                Out << FormatExchangeLine(x, unmet) << std::endl;
                break;
            }
            case TStep::skPause: Line.Idle(step.PauseMs); break;
            case TStep::skRts: Line.SetRTS(step.Rts); break;
            }
        }
    } catch (const EStopRequested&) {
    }
    return status;
}

} // namespace volmar::machine

// What the simulator should answer and count for what the machine sends,
// worked out with the simulator's own interpretation over the same messages,
// together with the line's rules: a broken frame is NAKed after the silence
// and marks the machine's next retry as one to act on; a NAK makes the
// machine resend with bit 7 set, up to its retry limit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataport/message.h"
#include "interpret/counters.h"
#include "interpret/interpreter.h"
#include "interpret/logs.h"
#include "support/message_builder.h"
#include "support/recording_view.h"

namespace volmar::testing {

class LineModel {
public:
    // Counts and totals accumulate in Counters; a new model is a new run of
    // the program (its last answer starts afresh), the record carried over.
    explicit LineModel(TCounters& Counters) : FInterpreter(Counters, FLogs, FView) {}

    // One well-formed frame for Header and Data; the reply byte.
    std::uint8_t Deliver(std::uint8_t Header, const std::vector<std::uint8_t>& Data) {
        MessageBuilder b;
        const TDPMessage& msg = b.Make(Header, Data);
        const TAcception a = FInterpreter.InterpretMessage(&msg, FWasInError);
        FWasInError = (a == acRejected);
        return ReplyByte(a);
    }

    struct Outcome {
        std::uint8_t Answer;
        int Retries;
    };

    // A message as the machine sends it: first as given, then, while the
    // answer is NAK and the limit allows, again with bit 7 set.
    Outcome Send(std::uint8_t Header, const std::vector<std::uint8_t>& Data, int RetryLimit) {
        Outcome o{Deliver(Header, Data), 0};
        while (o.Answer == kNak && o.Retries < RetryLimit) {
            ++o.Retries;
            o.Answer = Deliver(static_cast<std::uint8_t>(Header | 0x80), Data);
        }
        return o;
    }

    // A whole frame with a bad checksum: handed over as invalid (rejected,
    // not counted), then NAKed once the line is quiet.
    std::uint8_t BadChecksum(std::uint8_t Header, const std::vector<std::uint8_t>& Data) {
        MessageBuilder b;
        TDPMessage& msg = b.Make(Header, Data);
        msg.Checksum = static_cast<std::uint8_t>(msg.Checksum + 1);
        msg.Valid = false;
        FInterpreter.InterpretMessage(&msg, FWasInError);
        FWasInError = true;
        return kNak;
    }

    // A frame given up without any message (a gap inside it, a length
    // byte out of range): NAKed once the line is quiet.
    std::uint8_t Abandoned() {
        FWasInError = true;
        return kNak;
    }

private:
    TLogs FLogs{{[] { return 0u; }, [] { return std::string("00:00:00"); }}};
    RecordingView FView;
    TInterpreter FInterpreter;
    bool FWasInError = false;
};

} // namespace volmar::testing

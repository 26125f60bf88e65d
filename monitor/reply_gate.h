// Where a reply can be held, changed or delayed before it reaches the port:
// the one seam through which something beside the engine (faults armed on
// purpose) bends its answers. Without a gate the replies go out as decided.
#pragma once

#include <cstdint>
#include <optional>

#include "dataport/message.h"
#include "dataport/receiver.h"

namespace volmar {

class IReplyGate {
public:
    virtual ~IReplyGate() = default;
    // Before a valid message is acted on: an answer that replaces the
    // table's (the message is then not acted on).
    virtual std::optional<TAcception> AnswerInstead(const TDPMessage& Msg) = 0;
    // Each reply byte on its way out, for the message with Code (Cause tells
    // answers from the receiver's own NAKs); may change Byte; false: it does
    // not go out now.
    virtual bool Pass(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code) = 0;
};

} // namespace volmar

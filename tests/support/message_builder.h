// Builds received-message records the way the receiver fills them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "dataport/message.h"

namespace volmar::testing {

class MessageBuilder {
public:
    // A well-formed frame of the header's class with the given data bytes.
    TDPMessage& Make(std::uint8_t Header, const std::vector<std::uint8_t>& Data = {}) {
        Block.fill(0);
        Msg = TDPMessage{};
        Msg.Data = Block.data();
        Msg.Header = Header;
        Msg.Retry = (Header & 0x80) != 0;
        const TCodeShape shape = ClassifyHeader(Header);
        Msg.MsgClass = shape.MsgClass;
        std::uint8_t sum = Header;
        std::size_t i = 0;
        for (auto b : Data) {
            if (i < static_cast<std::size_t>(kMaxDataLength)) Block[i++] = b;
            sum = static_cast<std::uint8_t>(sum + b);
        }
        if (shape.MsgClass == mcVariableLength) {
            Msg.Length = static_cast<std::uint8_t>(i);
            sum = static_cast<std::uint8_t>(sum + Msg.Length);
        } else {
            Msg.Length = shape.DataLength;
        }
        Msg.Checksum = shape.MsgClass == mcSingleByte ? 0 : sum;
        Msg.Valid = true;
        return Msg;
    }

    std::array<std::uint8_t, kDataBlockSize> Block{};
    TDPMessage Msg;
};

} // namespace volmar::testing

// The dataport message record, the code catalogue and the display-name tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace volmar {

enum TDPMsgClass : std::uint8_t {
    mcNone,
    mcSingleByte,
    mcHeaderOnly,
    mcOneDataByte,
    mcTwoDataBytes,
    mcVariableLength,
    mcInvalid,
};

enum TAcception : std::uint8_t { acAccepted, acRejected, acNotSupported };

enum TDPState : std::uint8_t {
    dpsWaitHeaderNak,
    dpsWaitHeader,
    dpsWaitLength,
    dpsWaitData,
    dpsWaitCks,
    dpsWaitQuiet,
};

enum TTimeoutType : std::uint8_t { toFirstMessage, toInterChar, toSilence };

inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kEsc = 0x1B;

// Frame limits: at most 20 data bytes are ever stored, in a 64-byte block, so
// the byte after the last data byte always reads as zero.
inline constexpr int kMaxDataLength = 20;
inline constexpr std::size_t kDataBlockSize = 64;
// Header, length byte, 20 data bytes and the checksum.
inline constexpr std::size_t kMaxFrameSize = kMaxDataLength + 3;

struct TDPMessage {
    bool Valid = false;
    bool Retry = false;
    TDPMsgClass MsgClass = mcNone;
    std::uint8_t Header = 0;
    std::uint8_t Length = 0;
    std::uint8_t* Data = nullptr;
    std::uint8_t Checksum = 0;
    std::uint16_t LineError = 0;

    std::uint8_t Code() const { return Header & 0x7F; }
};
using PDPMessage = TDPMessage*;

// Zeroes every field and the first 20 data bytes; keeps the Data pointer.
void ClearMessage(TDPMessage& Msg);

// The class of a header byte (bit 7 ignored) and, for the fixed-size data
// classes, the number of data bytes (1 or 2; 0 for every other class).
struct TCodeShape {
    TDPMsgClass MsgClass;
    std::uint8_t DataLength;
};
TCodeShape ClassifyHeader(std::uint8_t Header);

extern const std::array<std::string_view, 128> DPMessageNames;
extern const std::array<std::string_view, 7> MsgClassNames;
extern const std::array<std::string_view, 3> AcceptionNames;
extern const std::array<std::string_view, 3> ReplyNames;
extern const std::array<std::string_view, 6> DPStateNames;
extern const std::array<std::string_view, 3> TimeoutNames;

// The reply byte for an answer; any value other than accepted or rejected
// is answered as not supported.
std::uint8_t ReplyByte(TAcception Accepted);

// Bytes as blank-separated two-digit upper-case hexadecimal text.
std::string HexBytes(const std::uint8_t* Bytes, std::size_t Count);

// The frame bytes rebuilt from a record; returns how many were written
// (0 for a cleared or invalid record).
std::size_t MessageFrameBytes(const TDPMessage& Msg, std::array<std::uint8_t, kMaxFrameSize>& Out);

// The frame a machine sends for a header and its data, checksum included:
// fixed-length classes take their number of data bytes (missing ones are
// 0), a variable-length message at most kMaxDataLength.
std::vector<std::uint8_t> BuildMessageFrame(std::uint8_t Header, const std::vector<std::uint8_t>& Data);

// The frame bytes rebuilt from a record, as HexBytes text; empty for a
// cleared or invalid record.
std::string MessageFrameHex(const TDPMessage* Msg);

} // namespace volmar

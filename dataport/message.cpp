#include "dataport/message.h"

#include <algorithm>

#include <cstring>

namespace volmar {

void ClearMessage(TDPMessage& Msg) {
    Msg.Valid = false;
    Msg.Retry = false;
    Msg.MsgClass = mcNone;
    Msg.Header = 0;
    Msg.Length = 0;
    Msg.Checksum = 0;
    Msg.LineError = 0;
    if (Msg.Data) std::memset(Msg.Data, 0, kMaxDataLength);
}

TCodeShape ClassifyHeader(std::uint8_t Header) {
    const std::uint8_t code = Header & 0x7F;
    if (code == 0x0A) return {mcHeaderOnly, 0};
    if (code <= 0x1B) return {mcSingleByte, 0};
    if (code <= 0x5F) return {mcHeaderOnly, 0};
    if (code <= 0x67) return {mcOneDataByte, 1};
    if (code <= 0x6F) return {mcTwoDataBytes, 2};
    return {mcVariableLength, 0};
}

const std::array<std::string_view, 128> DPMessageNames = {
    "Unused", // 00h
    "Reserved", // 01h
    "Reserved", // 02h
    "Reserved", // 03h
    "Reserved", // 04h
    "Sync Request", // 05h
    "Acknowledge", // 06h
    "Reserved", // 07h
    "Reserved", // 08h
    "Unused", // 09h
    "Take One Credit", // 0Ah
    "Unused", // 0Bh
    "Unused", // 0Ch
    "Unused", // 0Dh
    "Unused", // 0Eh
    "Unused", // 0Fh
    "Unused", // 10h
    "Unused", // 11h
    "Unused", // 12h
    "Unused", // 13h
    "Unused", // 14h
    "Negative Acknowledge", // 15h
    "Reserved", // 16h
    "Reserved", // 17h
    "Reserved", // 18h
    "Reserved", // 19h
    "Reserved", // 1Ah
    "Command Not Implemented", // 1Bh
    "Reserved", // 1Ch
    "Reserved", // 1Dh
    "Call Attendant", // 1Eh
    "Attendant Arrived", // 1Fh
    "1Ft In", // 20h
    "2Ft In", // 21h
    "5Ft In", // 22h
    "10Ft In", // 23h
    "20Ft In", // 24h
    "50Ft In", // 25h
    "100Ft In", // 26h
    "200Ft In", // 27h
    "500Ft In", // 28h
    "1000Ft In", // 29h
    "2000Ft In", // 2Ah
    "5000Ft In", // 2Bh
    "1Ft to Cashbox", // 2Ch
    "2Ft to Cashbox", // 2Dh
    "5Ft to Cashbox", // 2Eh
    "10Ft to Cashbox", // 2Fh
    "20Ft to Cashbox", // 30h
    "50Ft to Cashbox", // 31h
    "100Ft to Cashbox", // 32h
    "200Ft to Cashbox", // 33h
    "500Ft to Cashbox", // 34h
    "1000Ft to Cashbox", // 35h
    "2000Ft to Cashbox", // 36h
    "5000Ft to Cashbox", // 37h
    "1Ft Refill", // 38h
    "2Ft Refill", // 39h
    "5Ft Refill", // 3Ah
    "10Ft Refill", // 3Bh
    "20Ft Refill", // 3Ch
    "50Ft Refill", // 3Dh
    "100Ft Refill", // 3Eh
    "200Ft Refill", // 3Fh
    "500Ft Refill", // 40h
    "1000Ft Refill", // 41h
    "2000Ft Refill", // 42h
    "5000Ft Refill", // 43h
    "1Ft Out", // 44h
    "2Ft Out", // 45h
    "5Ft Out", // 46h
    "10Ft Out", // 47h
    "20Ft Out", // 48h
    "50Ft Out", // 49h
    "100Ft Out", // 4Ah
    "200Ft Out", // 4Bh
    "500Ft Out", // 4Ch
    "1000Ft Out", // 4Dh
    "2000Ft Out", // 4Eh
    "5000Ft Out", // 4Fh
    "1Ft Dump", // 50h
    "2Ft Dump", // 51h
    "5Ft Dump", // 52h
    "10Ft Dump", // 53h
    "20Ft Dump", // 54h
    "50Ft Dump", // 55h
    "100Ft Dump", // 56h
    "200Ft Dump", // 57h
    "500Ft Dump", // 58h
    "1000Ft Dump", // 59h
    "2000Ft Dump", // 5Ah
    "5000Ft Dump", // 5Bh
    "Request Linked Jackpot Value", // 5Ch
    "Increment Linked Jackpot", // 5Dh
    "Request Linked Jackpot Increment Result", // 5Eh
    "Trigger Linked Jackpot Win", // 5Fh
    "Target Percentage Payout Report", // 60h
    "Payout Error Report", // 61h
    "Take Multiple Credits", // 62h
    "Reserved", // 63h
    "Reserved", // 64h
    "Reserved", // 65h
    "Unused", // 66h
    "Unused", // 67h
    "Arcade Management Mode Report", // 68h
    "Game", // 69h
    "Reserved", // 6Ah
    "Value of One Credit Report", // 6Bh
    "Win Report", // 6Ch
    "Multi-Increment Linked Jackpot", // 6Dh
    "Door/Switch States Report", // 6Eh
    "Reserved", // 6Fh
    "Power on", // 70h
    "Machine Fault Report", // 71h
    "Payout Level Report", // 72h
    "Linked Jackpot Win Value Report", // 73h
    "Cancelled Credits Report", // 74h
    "Refill Required", // 75h
    "Cashable Value Report", // 76h
    "Send Data", // 77h
    "Unused", // 78h
    "Unused", // 79h
    "Reserved", // 7Ah
    "Reserved", // 7Bh
    "Reserved", // 7Ch
    "Reserved", // 7Dh
    "Approval Authority Datacomm Message", // 7Eh
    "Reserved", // 7Fh
};

const std::array<std::string_view, 7> MsgClassNames = {
    "No message",    "Single byte",     "Header only",     "One data byte",
    "Two data byte", "Variable length", "Invalid message",
};

const std::array<std::string_view, 3> AcceptionNames = {"Accepted", "Rejected", "Not Supported"};

const std::array<std::string_view, 3> ReplyNames = {"Ack", "Nak", "Esc"};

const std::array<std::string_view, 6> DPStateNames = {
    "Wait header (NAK)", "Wait header", "Wait length", "Wait data", "Wait cks", "Wait quiet",
};

const std::array<std::string_view, 3> TimeoutNames = {
    "Timeout waiting for first message",
    "Inter-character timeout",
    "Silence timeout after error",
};

std::uint8_t ReplyByte(TAcception Accepted) {
    switch (Accepted) {
    case acAccepted: return kAck;
    case acRejected: return kNak;
    default: return kEsc;
    }
}

std::string HexBytes(const std::uint8_t* Bytes, std::size_t Count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    if (Count == 0) return text;
    text.resize(Count * 3 - 1, ' ');
    for (std::size_t i = 0; i < Count; ++i) {
        text[i * 3] = digits[Bytes[i] >> 4];
        text[i * 3 + 1] = digits[Bytes[i] & 0x0F];
    }
    return text;
}

std::size_t MessageFrameBytes(const TDPMessage& Msg, std::array<std::uint8_t, kMaxFrameSize>& Out) {
    std::size_t n = 0;
    const auto data = [&](std::size_t count) {
        for (std::size_t i = 0; i < count && Msg.Data; ++i) Out[n++] = Msg.Data[i];
    };
    switch (Msg.MsgClass) {
    case mcSingleByte: Out[n++] = Msg.Header; return n;
    case mcHeaderOnly: Out[n++] = Msg.Header; break;
    case mcOneDataByte:
        Out[n++] = Msg.Header;
        data(1);
        break;
    case mcTwoDataBytes:
        Out[n++] = Msg.Header;
        data(2);
        break;
    case mcVariableLength:
        Out[n++] = Msg.Header;
        Out[n++] = Msg.Length;
        data(Msg.Length <= kMaxDataLength ? Msg.Length : kMaxDataLength);
        break;
    default: return 0;
    }
    Out[n++] = Msg.Checksum;
    return n;
}

std::vector<std::uint8_t> BuildMessageFrame(std::uint8_t Header, const std::vector<std::uint8_t>& Data) {
    std::array<std::uint8_t, kDataBlockSize> block{};
    TDPMessage msg{};
    msg.Data = block.data();
    msg.Header = Header;
    const TCodeShape shape = ClassifyHeader(Header);
    msg.MsgClass = shape.MsgClass;
    const std::size_t count = shape.MsgClass == mcVariableLength
                                  ? std::min<std::size_t>(Data.size(), kMaxDataLength)
                                  : shape.DataLength;
    std::copy_n(Data.begin(), std::min(count, Data.size()), block.begin());
    msg.Length = static_cast<std::uint8_t>(count);
    std::uint8_t sum = Header;
    if (shape.MsgClass == mcVariableLength) sum = static_cast<std::uint8_t>(sum + msg.Length);
    for (std::size_t i = 0; i < count; ++i) sum = static_cast<std::uint8_t>(sum + block[i]);
    msg.Checksum = sum;
    std::array<std::uint8_t, kMaxFrameSize> frame;
    const std::size_t n = MessageFrameBytes(msg, frame);
    return std::vector<std::uint8_t>(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n));
}

std::string MessageFrameHex(const TDPMessage* Msg) {
    if (!Msg) return {};
    std::array<std::uint8_t, kMaxFrameSize> frame;
    return HexBytes(frame.data(), MessageFrameBytes(*Msg, frame));
}

} // namespace volmar

#include "lab/pcapng_reader.h"

#include <cstring>
#include <vector>

#include "lab/pcapng_format.h"
#include "lab/wall_text.h"

namespace volmar {

namespace {

class EBadBlock : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An unsigned number of Size bytes at Data, in the given order.
std::uint64_t Unsigned(const char* Data, int Size, bool BigEndian) {
    std::uint64_t value = 0;
    for (int i = 0; i < Size; ++i) {
        const auto byte = static_cast<std::uint8_t>(Data[BigEndian ? i : Size - 1 - i]);
        value = value << 8 | byte;
    }
    return value;
}

// A name the record's number gives, or the record refused.
std::string Named(const char* Name, const char* What, int Number) {
    if (std::strcmp(Name, "?") == 0)
        throw EBadBlock(std::string("no ") + What + " numbered " + std::to_string(Number));
    return Name;
}

TCapturedRecord Record(std::string_view Packet, std::uint64_t WallUs) {
    const auto big = [&](std::size_t At, int Size) {
        return Unsigned(Packet.data() + At, Size, true);
    };
    if (Packet.empty()) throw EBadBlock("an empty packet");
    const auto layout = static_cast<std::uint8_t>(Packet[0]);
    const std::size_t header = layout == kPcapngLayout ? kPcapngRecordHeader
                               : layout == 1           ? kPcapngRecordHeaderV1
                                                       : 0;
    if (header == 0) throw EBadBlock("a record of layout " + std::to_string(layout));
    if (Packet.size() < header || Packet.size() < header + big(5, 1))
        throw EBadBlock("a record shorter than its header says");
    TCapturedRecord r;
    const auto kind = static_cast<std::uint8_t>(Packet[1]);
    const auto flags = static_cast<std::uint8_t>(Packet[2]);
    const auto sub = static_cast<std::uint8_t>(Packet[3]);
    if (kind > static_cast<std::uint8_t>(TCapturedKind::Event))
        throw EBadBlock("a record of kind " + std::to_string(kind));
    r.Kind = static_cast<TCapturedKind>(kind);
    r.Wall = WallText(static_cast<std::int64_t>(WallUs));
    r.MonoUs = static_cast<std::int64_t>(big(16, 8));
    const std::string_view bytes = Packet.substr(header, big(5, 1));
    r.Bytes.assign(bytes.begin(), bytes.end());
    const std::string_view text = Packet.substr(header + bytes.size());
    switch (r.Kind) {
    case TCapturedKind::Frame:
        if ((flags & kPcapngValid) != 0)
            r.Verdict = "valid";
        else
            r.Verdict = sub == ffNone ? std::string("invalid")
                                      : "invalid: " + Named(FrameFaultName(static_cast<TFrameFault>(sub)),
                                                            "fault", sub);
        break;
    case TCapturedKind::Reply:
        r.Cause = Named(ReplyCauseName(static_cast<TReplyCause>(sub)), "reply cause", sub);
        r.Dropped = (flags & kPcapngDropped) != 0;
        break;
    case TCapturedKind::Discarded: break;
    case TCapturedKind::Event:
        r.Event = Named(LineEventName(static_cast<TLineEvent>(sub)), "event", sub);
        r.Value = static_cast<std::int32_t>(big(8, 4));
        r.Detail = std::string(text);
        break;
    }
    if (header >= kPcapngRecordHeader &&
        (r.Kind == TCapturedKind::Frame || r.Kind == TCapturedKind::Discarded))
        r.FirstMonoUs = static_cast<std::int64_t>(big(24, 8));
    return r;
}

// The interface's link type, and its time resolution when it says one.
void Interface(std::string_view Body, bool BigEndian) {
    const auto number = [&](std::size_t At, int Size) {
        return Unsigned(Body.data() + At, Size, BigEndian);
    };
    if (Body.size() < 8) throw EBadBlock("an interface description cut short");
    if (number(0, 2) != kPcapngLinkType)
        throw EBadBlock("link type " + std::to_string(number(0, 2)) + ", not the dataport's (" +
                        std::to_string(kPcapngLinkType) + ")");
    for (std::size_t at = 8; at + 4 <= Body.size();) {
        const auto code = number(at, 2);
        const auto length = number(at + 2, 2);
        if (code == 0) break;
        if (at + 4 + length > Body.size()) throw EBadBlock("an option cut short");
        if (code == kPcapngOptTsResol &&
            (length != 1 || static_cast<std::uint8_t>(Body[at + 4]) != kPcapngMicroseconds))
            throw EBadBlock("times not in microseconds");
        at += 4 + (length + 3) / 4 * 4;
    }
}

} // namespace

TCapturedSession ParsePcapng(std::string_view Content, const std::string& Name) {
    TCapturedSession session;
    session.Format = "pcapng";
    bool bigEndian = false;
    int interfaces = 0;
    int block = 0;
    int packets = 0;
    for (std::size_t at = 0; at < Content.size();) {
        ++block;
        try {
            const std::string_view rest = Content.substr(at);
            if (rest.size() < 12) throw EBadBlock("the file ends inside this block");
            const auto type = Unsigned(rest.data(), 4, bigEndian);
            if (type == kPcapngSectionHeader) {
                const auto magic = Unsigned(rest.data() + 8, 4, false);
                if (magic != kPcapngByteOrderMagic && magic != Unsigned(rest.data() + 8, 4, true))
                    throw EBadBlock("a section header without its byte-order mark");
                bigEndian = magic != kPcapngByteOrderMagic;
                interfaces = 0;
            }
            const auto length = Unsigned(rest.data() + 4, 4, bigEndian);
            if (length > rest.size()) throw EBadBlock("the file ends inside this block");
            if (length < 12 || length % 4 != 0 ||
                Unsigned(rest.data() + length - 4, 4, bigEndian) != length)
                throw EBadBlock("a block whose lengths do not agree");
            const std::string_view body = rest.substr(8, length - 12);
            const auto number = [&](std::size_t At) {
                return Unsigned(body.data() + At, 4, bigEndian);
            };
            if (type == kPcapngSectionHeader) {
                if (body.size() < 16 || Unsigned(body.data() + 4, 2, bigEndian) != 1)
                    throw EBadBlock("a section header of another pcapng version");
            } else if (type == kPcapngInterface) {
                Interface(body, bigEndian);
                ++interfaces;
            } else if (type == kPcapngEnhancedPacket) {
                if (body.size() < 20 || 20 + number(12) > body.size())
                    throw EBadBlock("a packet block cut short");
                if (number(0) >= static_cast<std::uint64_t>(interfaces))
                    throw EBadBlock("a packet of an interface not described");
                TCapturedRecord r =
                    Record(body.substr(20, number(12)), number(4) << 32 | number(8));
                r.Line = ++packets;
                session.Records.push_back(std::move(r));
            }
            at += length;
        } catch (const EBadBlock& e) {
            throw ECaptureError(Name, 0,
                                "block " + std::to_string(block) + " at byte " +
                                    std::to_string(at) + ": " + e.what());
        }
    }
    return session;
}

} // namespace volmar

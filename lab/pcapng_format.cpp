#include "lab/pcapng_format.h"

#include <algorithm>
#include <limits>

namespace volmar {

namespace {

constexpr std::uint16_t kOptEnd = 0;
constexpr std::uint16_t kOptName = 2;      // if_name
constexpr std::uint16_t kOptFlags = 2;     // epb_flags
constexpr std::uint16_t kOptUserAppl = 4;  // shb_userappl
constexpr std::uint32_t kInbound = 1;
constexpr std::uint32_t kOutbound = 2;
// The record's text is cut here: a packet stays far below any reader's limit.
constexpr std::size_t kMaxText = 4096;

// Blocks are written in the machine's own order; the byte-order magic says which.
template <typename T>
void Put(std::string& Out, T Value) {
    Out.append(reinterpret_cast<const char*>(&Value), sizeof Value);
}

// Network order, for the record header the dissector reads.
template <typename T>
void PutBig(std::string& Out, T Value) {
    for (int shift = (sizeof(T) - 1) * 8; shift >= 0; shift -= 8)
        Out += static_cast<char>((static_cast<std::uint64_t>(Value) >> shift) & 0xFF);
}

void Pad(std::string& Out) { Out.append((4 - Out.size() % 4) % 4, '\0'); }

void Option(std::string& Out, std::uint16_t Code, std::string_view Value) {
    Put(Out, Code);
    Put(Out, static_cast<std::uint16_t>(Value.size()));
    Out.append(Value);
    Pad(Out);
}

// Type, length, Body (padded), length again.
std::string Block(std::uint32_t Type, std::string Body) {
    Pad(Body);
    const auto length = static_cast<std::uint32_t>(Body.size() + 12);
    std::string block;
    block.reserve(length);
    Put(block, Type);
    Put(block, length);
    block += Body;
    Put(block, length);
    return block;
}

std::string_view TextOf(const TTrafficRecord& R) {
    const std::string& text = R.Kind == TRecordKind::Event ? R.Detail : R.Text;
    return std::string_view(text).substr(0, kMaxText);
}

std::uint8_t SubOf(const TTrafficRecord& R) {
    switch (R.Kind) {
    case TRecordKind::Frame: return R.Fault;
    case TRecordKind::Reply: return R.Cause;
    case TRecordKind::Event: return static_cast<std::uint8_t>(R.Event);
    case TRecordKind::Discarded: break;
    }
    return 0;
}

} // namespace

std::string PcapngHeader() {
    std::string shb;
    Put(shb, kPcapngByteOrderMagic);
    Put(shb, std::uint16_t{1});
    Put(shb, std::uint16_t{0});
    Put(shb, std::int64_t{-1}); // section length not known
    Option(shb, kOptUserAppl, "Volmar Simulator");
    Option(shb, kOptEnd, {});
    std::string idb;
    Put(idb, kPcapngLinkType);
    Put(idb, std::uint16_t{0});
    Put(idb, std::uint32_t{0}); // no snapshot length
    Option(idb, kOptName, "dataport");
    Option(idb, kPcapngOptTsResol, std::string(1, static_cast<char>(kPcapngMicroseconds)));
    Option(idb, kOptEnd, {});
    return Block(kPcapngSectionHeader, std::move(shb)) + Block(kPcapngInterface, std::move(idb));
}

std::string PcapngBlock(const TTrafficRecord& R) {
    const std::string_view text = TextOf(R);
    const auto count = static_cast<std::uint8_t>(std::min<qsizetype>(R.Bytes.size(), 255));
    std::string packet;
    packet.reserve(kPcapngRecordHeader + count + text.size());
    packet += static_cast<char>(kPcapngLayout);
    packet += static_cast<char>(R.Kind);
    packet += static_cast<char>((R.Retry ? kPcapngRetry : 0) | (R.Repeat ? kPcapngRepeat : 0) |
                                (R.Valid ? kPcapngValid : 0) | (R.Dropped ? kPcapngDropped : 0));
    packet += static_cast<char>(SubOf(R));
    packet += static_cast<char>(R.Class);
    packet += static_cast<char>(count);
    PutBig(packet, R.LineError);
    PutBig(packet, R.Value);
    PutBig(packet, static_cast<std::int32_t>(std::clamp<std::int64_t>(
                       R.LatencyUs, -1, std::numeric_limits<std::int32_t>::max())));
    PutBig(packet, R.MonoUs);
    const bool hasFirst = R.Kind == TRecordKind::Frame || R.Kind == TRecordKind::Discarded;
    PutBig(packet, hasFirst ? R.FirstMonoUs : std::int64_t{0});
    packet.append(reinterpret_cast<const char*>(R.Bytes.data()), count);
    packet += text;

    std::string epb;
    const auto time = static_cast<std::uint64_t>(R.WallUs);
    Put(epb, std::uint32_t{0});
    Put(epb, static_cast<std::uint32_t>(time >> 32));
    Put(epb, static_cast<std::uint32_t>(time & 0xFFFFFFFF));
    Put(epb, static_cast<std::uint32_t>(packet.size()));
    Put(epb, static_cast<std::uint32_t>(packet.size()));
    epb += packet;
    Pad(epb);
    const std::uint32_t direction = R.Kind == TRecordKind::Reply     ? kOutbound
                                    : R.Kind == TRecordKind::Event ? 0
                                                                   : kInbound;
    if (direction != 0) {
        Put(epb, kOptFlags);
        Put(epb, std::uint16_t{4});
        Put(epb, direction);
    }
    Option(epb, kOptEnd, {});
    return Block(kPcapngEnhancedPacket, std::move(epb));
}

} // namespace volmar

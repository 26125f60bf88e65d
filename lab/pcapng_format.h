// Traffic records as pcapng blocks, for Wireshark and tshark. Each file (and
// each one a rotation starts) opens with its own section header and the one
// interface, so that every file reads alone. A record is one Enhanced Packet
// Block on link type LINKTYPE_USER0: a fixed record header (all numbers in
// network order) followed by the line's bytes and the record's text; the
// direction is in the block's flags. The dissector wireshark/volmar.lua reads
// exactly this layout.
//
//   0  u8   layout version (2)        1  u8  kind (frame, reply, discarded, event)
//   2  u8   flags: 1 retry, 2 repeat, 4 valid, 8 dropped
//   3  u8   frame fault / reply cause / event, by kind
//   4  u8   message class             5  u8  number of line bytes N
//   6  u16  line error                8  i32 event value
//  12  i32  latency in microseconds, -1 when not an answer
//  16  i64  monotonic time in microseconds
//  24  i64  a frame's or a discarded run's first byte, on the same clock (0: not known)
//  32  N line bytes, then the decoded text or the event's detail (UTF-8) to the end
//
// Layout 1, written before the first byte's time was, ends its header at 24.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/traffic_record.h"

namespace volmar {

inline constexpr std::uint16_t kPcapngLinkType = 147; // LINKTYPE_USER0
inline constexpr std::size_t kPcapngRecordHeader = 32;
inline constexpr std::size_t kPcapngRecordHeaderV1 = 24;
inline constexpr std::uint8_t kPcapngLayout = 2;

inline constexpr std::uint32_t kPcapngSectionHeader = 0x0A0D0D0A;
inline constexpr std::uint32_t kPcapngInterface = 0x00000001;
inline constexpr std::uint32_t kPcapngEnhancedPacket = 0x00000006;
inline constexpr std::uint32_t kPcapngByteOrderMagic = 0x1A2B3C4D;
inline constexpr std::uint16_t kPcapngOptTsResol = 9; // if_tsresol
inline constexpr std::uint8_t kPcapngMicroseconds = 6;

// The record header's flags.
inline constexpr std::uint8_t kPcapngRetry = 1;
inline constexpr std::uint8_t kPcapngRepeat = 2;
inline constexpr std::uint8_t kPcapngValid = 4;
inline constexpr std::uint8_t kPcapngDropped = 8;

// A Section Header Block and the Interface Description Block after it.
std::string PcapngHeader();
// Record as an Enhanced Packet Block on interface 0.
std::string PcapngBlock(const TTrafficRecord& Record);

} // namespace volmar

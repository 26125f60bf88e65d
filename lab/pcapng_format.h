// Traffic records as pcapng blocks, for Wireshark and tshark. Each file (and
// each one a rotation starts) opens with its own section header and the one
// interface, so that every file reads alone. A record is one Enhanced Packet
// Block on link type LINKTYPE_USER0: a fixed record header (all numbers in
// network order) followed by the line's bytes and the record's text; the
// direction is in the block's flags. The dissector wireshark/volmar.lua reads
// exactly this layout.
//
//   0  u8   layout version (1)        1  u8  kind (frame, reply, discarded, event)
//   2  u8   flags: 1 retry, 2 repeat, 4 valid, 8 dropped
//   3  u8   frame fault / reply cause / event, by kind
//   4  u8   message class             5  u8  number of line bytes N
//   6  u16  line error                8  i32 event value
//  12  i32  latency in microseconds, -1 when not an answer
//  16  i64  monotonic time in microseconds
//  24  N line bytes, then the decoded text or the event's detail (UTF-8) to the end
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "monitor/traffic_record.h"

namespace volmar {

inline constexpr std::uint16_t kPcapngLinkType = 147; // LINKTYPE_USER0
inline constexpr std::size_t kPcapngRecordHeader = 24;
inline constexpr std::uint8_t kPcapngLayout = 1;

// A Section Header Block and the Interface Description Block after it.
std::string PcapngHeader();
// Record as an Enhanced Packet Block on interface 0.
std::string PcapngBlock(const TTrafficRecord& Record);

} // namespace volmar

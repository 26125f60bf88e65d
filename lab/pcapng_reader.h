// A pcapng capture read back for a replay: the blocks the capture writes
// (lab/pcapng_format.h), in either byte order, each section on its own.
// Blocks of other types are stepped over by their length; a block cut
// short, a packet of another link type or a record not of ours stops the
// file, naming the block's number and its byte offset.
#pragma once

#include <string>
#include <string_view>

#include "lab/capture_reader.h"

namespace volmar {

// The records of Content, which begins with a section header block. A
// record's Line is its packet's number, as Wireshark counts them.
TCapturedSession ParsePcapng(std::string_view Content, const std::string& Name);

} // namespace volmar

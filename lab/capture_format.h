// A traffic record as one line of the capture file: columns for a person to
// read, a JSON object a line for a program, or a pcapng block for Wireshark.
#pragma once

#include <cstdint>
#include <string>

#include "lab/wall_text.h"
#include "monitor/traffic_record.h"

namespace volmar {

enum class TCaptureFormat { Text, JsonLines, Pcapng };

// One line, ending in '\n' (a pcapng block as it is). Times are written in
// local time.
std::string FormatRecord(const TTrafficRecord& Record, TCaptureFormat Format);

// A record's kind as JSON Lines names it ("frame", ...) and as the text
// form's column does ("RX", ...).
const char* RecordKindName(TRecordKind Kind);
const char* RecordKindColumn(TRecordKind Kind);

// The events whose Value says something (the text form writes it); the
// others leave it 0.
bool EventHasValue(TLineEvent Event);

} // namespace volmar

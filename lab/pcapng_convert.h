// Text and JSON Lines captures read back into records, to be written as
// pcapng: by the converter for a capture already made, and by the live view
// for the records the control socket streams. A line that is not what the
// capture writes is refused, never guessed at.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "monitor/traffic_record.h"

class QJsonObject;

namespace volmar {

// Line (without its newline) as the record it was written from: a JSON
// object for a JSON Lines capture, columns for the text form. Nothing, with
// Error saying what is wrong, when it is neither.
std::optional<TTrafficRecord> ParseCaptureLine(const std::string& Line, std::string& Error);
// A record as a JSON Lines capture's object.
std::optional<TTrafficRecord> ParseCaptureObject(const QJsonObject& Object, std::string& Error);

// Reads a text or JSON Lines capture from In and writes it to Out as pcapng.
// Empty when done; else what went wrong, naming the line's number.
std::string ConvertToPcapng(std::istream& In, std::ostream& Out);

} // namespace volmar

#include "lab/capture_reader.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "dataport/file_store.h"
#include "lab/json_line.h"
#include "lab/pcapng_reader.h"

namespace volmar {

namespace {

// A line that is not a record: why, in a few words.
class ENotARecord : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::optional<std::int64_t> Integer(std::string_view Text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (error != std::errc() || end != Text.data() + Text.size() || Text.empty()) return {};
    return value;
}

// "06" or "20 20 00": two hexadecimal digits a byte, one blank between.
std::vector<std::uint8_t> HexBytes(std::string_view Text, const char* What) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < Text.size(); at += 3) {
        std::uint8_t byte = 0;
        const auto [end, error] = std::from_chars(Text.data() + at, Text.data() + at + 2, byte, 16);
        if (at + 2 > Text.size() || error != std::errc() || end != Text.data() + at + 2 ||
            (at + 2 < Text.size() && Text[at + 2] != ' '))
            throw ENotARecord(std::string(What) + " are not bytes in hexadecimal");
        bytes.push_back(byte);
    }
    if (bytes.empty()) throw ENotARecord(std::string(What) + " are missing");
    return bytes;
}

std::vector<std::string_view> Split(std::string_view Text, std::string_view By) {
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t end = Text.find(By, at);
        parts.push_back(Text.substr(at, end == std::string_view::npos ? end : end - at));
        if (end == std::string_view::npos) return parts;
        at = end + By.size();
    }
}

bool Shaped(std::string_view Text, std::string_view Shape) {
    if (Text.size() != Shape.size()) return false;
    for (std::size_t i = 0; i < Text.size(); ++i)
        if (Shape[i] == '9' ? !(Text[i] >= '0' && Text[i] <= '9') : Text[i] != Shape[i])
            return false;
    return true;
}

constexpr std::string_view kWallShape = "9999-99-99 99:99:99.999999";

// "first N" at the end of a frame's or a discarded run's fields.
void TakeFirst(std::vector<std::string_view>& Fields, TCapturedRecord& R) {
    if (Fields.empty() || !Fields.back().starts_with("first ")) return;
    const auto first = Integer(Fields.back().substr(6));
    if (!first) throw ENotARecord("\"first\" is not a number");
    R.FirstMonoUs = *first;
    Fields.pop_back();
}

// "<wall> <mono> <KIND> <field> | <field> ...", as the capture's text form writes it.
TCapturedRecord TextRecord(std::string_view Line) {
    TCapturedRecord r;
    if (Line.size() < kWallShape.size() || !Shaped(Line.substr(0, kWallShape.size()), kWallShape))
        throw ENotARecord("no time at its start");
    r.Wall = std::string(Line.substr(0, kWallShape.size()));
    std::string_view rest = Line.substr(kWallShape.size());
    const auto word = [&rest]() {
        const std::size_t start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::string_view();
        rest = rest.substr(start);
        const std::size_t end = rest.find(' ');
        const std::string_view w = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        return w;
    };
    const auto mono = Integer(word());
    if (!mono) throw ENotARecord("no monotonic time after the wall time");
    r.MonoUs = *mono;
    const std::string_view kind = word();
    const std::size_t start = rest.find_first_not_of(' ');
    std::vector<std::string_view> fields =
        Split(start == std::string_view::npos ? std::string_view() : rest.substr(start), " | ");
    if (kind == "RX") {
        r.Kind = TCapturedKind::Frame;
        TakeFirst(fields, r);
        if (fields.size() < 5) throw ENotARecord("a frame with fields missing");
        r.Bytes = HexBytes(fields.front(), "the frame's bytes");
        r.Verdict = std::string(fields.back());
        if (r.Verdict != "valid" && !r.Verdict.starts_with("invalid"))
            throw ENotARecord("a frame without its verdict");
    } else if (kind == "TX") {
        r.Kind = TCapturedKind::Reply;
        if (fields.size() < 2) throw ENotARecord("a reply with fields missing");
        const std::size_t name = fields[0].rfind(' ');
        if (fields[0] != "?") {
            if (name == std::string_view::npos) throw ENotARecord("a reply without its byte");
            r.Bytes = HexBytes(fields[0].substr(0, name), "the reply's bytes");
        }
        r.Cause = std::string(fields[1]);
        for (std::size_t i = 2; i < fields.size(); ++i)
            r.Dropped = r.Dropped || fields[i] == "dropped";
    } else if (kind == "DISCARD") {
        r.Kind = TCapturedKind::Discarded;
        TakeFirst(fields, r);
        if (fields.size() != 2) throw ENotARecord("a discarded run with fields missing");
        r.Bytes = HexBytes(fields[0], "the discarded bytes");
    } else if (kind == "EVENT") {
        r.Kind = TCapturedKind::Event;
        if (fields.front().empty()) throw ENotARecord("an event without its name");
        r.Event = std::string(fields.front());
        // The text form writes the number as words ("9600 baud", "COM1"):
        // the digits it begins with are the number.
        if (fields.size() >= 2) {
            const std::string_view value = fields[1];
            std::from_chars(value.data(), value.data() + value.size(), r.Value);
        }
        if (fields.size() >= 3 || (fields.size() == 2 && !(fields[1].front() >= '0' &&
                                                          fields[1].front() <= '9')))
            r.Detail = std::string(fields.back());
    } else {
        throw ENotARecord("\"" + std::string(kind) + "\" is no kind of record");
    }
    return r;
}

std::string Text(const QJsonObject& O, const char* Key) {
    const QJsonValue v = O.value(QLatin1String(Key));
    if (!v.isString()) throw ENotARecord(std::string("\"") + Key + "\" is missing or not a text");
    return v.toString().toStdString();
}

std::int64_t Number(const QJsonObject& O, const char* Key) {
    const QJsonValue v = O.value(QLatin1String(Key));
    if (!v.isDouble() || v.toDouble() != static_cast<double>(v.toInteger()))
        throw ENotARecord(std::string("\"") + Key + "\" is missing or not a whole number");
    return v.toInteger();
}

TCapturedRecord JsonRecord(std::string_view Line) {
    QString error;
    const auto parsed = ParseJsonObjectLine(
        QByteArray(Line.data(), static_cast<qsizetype>(Line.size())), error);
    if (!parsed) throw ENotARecord(error.toStdString());
    const QJsonObject& o = *parsed;
    TCapturedRecord r;
    r.Wall = Text(o, "wall");
    if (!Shaped(r.Wall, "9999-99-99T99:99:99.999999")) throw ENotARecord("\"wall\" is no time");
    r.Wall[10] = ' ';
    r.MonoUs = Number(o, "mono_us");
    if (o.contains(QLatin1String("first_us"))) r.FirstMonoUs = Number(o, "first_us");
    const std::string kind = Text(o, "kind");
    if (kind == "frame") {
        r.Kind = TCapturedKind::Frame;
        r.Bytes = HexBytes(Text(o, "bytes"), "the frame's bytes");
        const QJsonValue valid = o.value(QLatin1String("valid"));
        if (!valid.isBool()) throw ENotARecord("\"valid\" is missing or not true or false");
        r.Verdict = valid.toBool() ? "valid" : "invalid";
        if (o.contains(QLatin1String("fault"))) r.Verdict += ": " + Text(o, "fault");
    } else if (kind == "reply") {
        r.Kind = TCapturedKind::Reply;
        r.Bytes = HexBytes(Text(o, "byte"), "the reply's bytes");
        r.Cause = Text(o, "cause");
        r.Dropped = o.value(QLatin1String("dropped")).toBool();
    } else if (kind == "discarded") {
        r.Kind = TCapturedKind::Discarded;
        r.Bytes = HexBytes(Text(o, "bytes"), "the discarded bytes");
    } else if (kind == "event") {
        r.Kind = TCapturedKind::Event;
        r.Event = Text(o, "event");
        r.Value = Number(o, "value");
        r.Detail = Text(o, "detail");
    } else {
        throw ENotARecord("\"" + kind + "\" is no kind of record");
    }
    return r;
}

using TLineReader = TCapturedRecord (*)(std::string_view Line);

// The formats, each known by how the file begins: those read line by line
// name their line's reader, the others read the whole file.
struct TFormat {
    const char* Name;
    bool (*Begins)(std::string_view Content);
    TLineReader ReadLine;
    TCapturedSession (*ReadFile)(std::string_view Content, const std::string& Name);
};

constexpr std::array<TFormat, 3> kFormats = {{
    {"pcapng",
     [](std::string_view C) { return C.starts_with(std::string_view("\x0A\x0D\x0D\x0A", 4)); },
     nullptr, ParsePcapng},
    {"jsonl", [](std::string_view C) { return C.starts_with('{'); }, JsonRecord, nullptr},
    {"text", [](std::string_view) { return true; }, TextRecord, nullptr},
}};

// "File:Line: ", or "File: " for the file as a whole. Built by appending:
// GCC 12 at -O3 warns wrongly about a literal added to a temporary string.
std::string Where(const std::string& File, int Line) {
    std::string where = File;
    if (Line > 0) {
        where += ':';
        where += std::to_string(Line);
    }
    where += ": ";
    return where;
}

} // namespace

ECaptureError::ECaptureError(const std::string& File, int Line, const std::string& What)
    : std::runtime_error(Where(File, Line) + What),
      FLine(Line) {}

TCapturedSession ParseCapture(std::string_view Content, const std::string& Name) {
    if (Content.empty()) throw ECaptureError(Name, 0, "the file is empty");
    const TFormat* format = nullptr;
    for (const TFormat& f : kFormats)
        if (f.Begins(Content)) {
            format = &f;
            break;
        }
    if (format->ReadFile) return format->ReadFile(Content, Name);
    TCapturedSession session;
    session.Format = format->Name;
    int number = 0;
    for (std::size_t at = 0; at < Content.size();) {
        ++number;
        const std::size_t end = Content.find('\n', at);
        if (end == std::string_view::npos)
            throw ECaptureError(Name, number, "the file ends in the middle of this line");
        const std::string_view line = Content.substr(at, end - at);
        at = end + 1;
        try {
            if (line.empty()) throw ENotARecord("an empty line");
            TCapturedRecord r = format->ReadLine(line);
            r.Line = number;
            session.Records.push_back(std::move(r));
        } catch (const ENotARecord& e) {
            throw ECaptureError(Name, number,
                                std::string("not a record of the ") + format->Name +
                                    " capture: " + e.what());
        }
    }
    return session;
}

TCapturedSession ReadCapture(const std::string& Path) {
    // Opened without waiting, so that a FIFO cannot hold the replay up,
    // and refused unless it is a regular file.
    const int fd = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw ECaptureError(Path, 0, std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        std::error_code ec;
        const auto type = std::filesystem::status(Path, ec).type();
        throw ECaptureError(Path, 0, std::string("it is ") + FileTypeName(type));
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw ECaptureError(Path, 0, std::strerror(error));
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ParseCapture(content, Path);
}

} // namespace volmar

#include "lab/pcapng_convert.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <istream>
#include <map>
#include <ostream>
#include <string_view>
#include <vector>

#include "interpret/logs.h"
#include "lab/capture_format.h"
#include "lab/pcapng_format.h"

namespace volmar {

namespace {

using std::string_view;

// The value whose name NameOf gives Name, among 0 .. Count-1.
template <typename T, typename TNameOf>
std::optional<T> ByName(string_view Name, int Count, TNameOf NameOf) {
    for (int i = 0; i < Count; ++i)
        if (Name == string_view(NameOf(static_cast<T>(i)))) return static_cast<T>(i);
    return std::nullopt;
}

std::optional<TRecordKind> KindByName(string_view Name, bool Text) {
    return ByName<TRecordKind>(Name, static_cast<int>(TRecordKind::Event) + 1,
                               Text ? RecordKindColumn : RecordKindName);
}

std::optional<TLineEvent> EventByName(string_view Name) {
    return ByName<TLineEvent>(Name, kLineEventCount, LineEventName);
}

std::optional<TFrameFault> FaultByName(string_view Name) {
    return ByName<TFrameFault>(Name, ffLineError + 1, FrameFaultName);
}

std::optional<TReplyCause> CauseByName(string_view Name) {
    return ByName<TReplyCause>(Name, rcSilenceNak + 1, ReplyCauseName);
}

std::optional<TDPMsgClass> ClassByName(string_view Name) {
    return ByName<TDPMsgClass>(Name, static_cast<int>(MsgClassNames.size()),
                               [](TDPMsgClass C) { return MsgClassNames[C]; });
}

// A line error's code from the text the capture wrote for it.
std::optional<std::uint16_t> LineErrorByText(const std::string& Text) {
    static std::map<std::string, std::uint16_t> known;
    if (known.empty())
        for (std::uint32_t code = 0; code <= 0xFFFF; ++code)
            known.emplace(LineErrorText(static_cast<std::uint16_t>(code)),
                          static_cast<std::uint16_t>(code));
    const auto it = known.find(Text);
    if (it == known.end()) return std::nullopt;
    return it->second;
}

template <typename T>
std::optional<T> Number(string_view Text) {
    T value{};
    const auto [end, error] = std::from_chars(Text.data(), Text.data() + Text.size(), value);
    if (error != std::errc() || end != Text.data() + Text.size()) return std::nullopt;
    return value;
}

// "06 A6 A6": bytes in two-digit hexadecimal, blank-separated.
std::optional<TRecordBytes> Bytes(string_view Hex) {
    TRecordBytes bytes;
    for (std::size_t at = 0; at < Hex.size(); at += 3) {
        std::uint8_t byte = 0;
        const auto [end, error] = std::from_chars(Hex.data() + at, Hex.data() + at + 2, byte, 16);
        if (at + 2 > Hex.size() || error != std::errc() || end != Hex.data() + at + 2 ||
            (at + 2 < Hex.size() && Hex[at + 2] != ' ') || bytes.size() >= 255)
            return std::nullopt;
        bytes.push_back(byte);
    }
    return bytes;
}

// Local time as the capture writes it, Separator between date and time.
std::optional<std::int64_t> WallUs(string_view Text, char Separator) {
    if (Text.size() != 26 || Text[10] != Separator || Text[19] != '.') return std::nullopt;
    const auto micros = Number<std::int64_t>(Text.substr(20));
    const QDateTime t = QDateTime::fromString(
        QString::fromLatin1(Text.data(), 19).replace(Separator, QLatin1Char(' ')),
        QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    if (!micros || !t.isValid()) return std::nullopt;
    return t.toSecsSinceEpoch() * 1000000 + *micros;
}

struct TBad {
    std::string What;
};

template <typename T>
T Need(std::optional<T> Value, const std::string& What) {
    if (!Value) throw TBad{What};
    return *Value;
}

// The frame's code and class follow from its header byte.
void FrameShape(TTrafficRecord& R) {
    if (R.Bytes.empty()) throw TBad{"a frame without bytes"};
    R.Code = R.Bytes.front() & 0x7F;
}

// The event's value from its text, as EventValueText wrote it.
std::int32_t EventValue(TLineEvent Event, const std::string& Text) {
    const auto number = [&](string_view Tail) {
        string_view t = Text;
        if (t.size() < Tail.size() || t.substr(t.size() - Tail.size()) != Tail)
            throw TBad{"the value \"" + Text + "\""};
        return Need(Number<std::int32_t>(t.substr(0, t.size() - Tail.size())),
                    "the value \"" + Text + "\"");
    };
    switch (Event) {
    case TLineEvent::LineError:
        return Need(LineErrorByText(Text), "the line error \"" + Text + "\"");
    case TLineEvent::DeviceLost:
    case TLineEvent::DeviceBack:
    case TLineEvent::PortOpened:
    case TLineEvent::PortClosed:
        if (Text.rfind("COM", 0) != 0) throw TBad{"the port \"" + Text + "\""};
        return Need(Number<std::int32_t>(string_view(Text).substr(3)), "the port \"" + Text + "\"");
    case TLineEvent::SpeedChanged:
    case TLineEvent::StartState: return number(" baud");
    case TLineEvent::CaptureLost:
        return Text.size() > 12 && Text.substr(Text.size() - 12) == " record lost" ? number(" record lost")
                                                                                  : number(" records lost");
    default: return number("");
    }
}

// "first N": when the first byte of a frame or of discarded bytes came.
bool FirstField(const std::vector<std::string>& Fields, std::size_t At, TTrafficRecord& R) {
    if (At >= Fields.size() || Fields[At].rfind("first ", 0) != 0) return false;
    R.FirstMonoUs = Need(Number<std::int64_t>(string_view(Fields[At]).substr(6)),
                         "\"" + Fields[At] + "\"");
    return true;
}

TTrafficRecord FromText(const std::string& Line) {
    TTrafficRecord r;
    if (Line.size() < 50 || Line[26] != ' ' || Line[41] != ' ' || Line[49] != ' ')
        throw TBad{"not a line of a text capture"};
    r.WallUs = Need(WallUs(string_view(Line).substr(0, 26), ' '), "the time");
    string_view mono = string_view(Line).substr(27, 14);
    mono.remove_prefix(std::min(mono.find_first_not_of(' '), mono.size()));
    r.MonoUs = Need(Number<std::int64_t>(mono), "the monotonic time");
    string_view kind = string_view(Line).substr(42, 7);
    kind = kind.substr(0, kind.find(' '));
    r.Kind = Need(KindByName(kind, true), "the kind \"" + std::string(kind) + "\"");
    std::vector<std::string> fields;
    const std::string rest = Line.substr(50);
    for (std::size_t at = 0;;) {
        const std::size_t bar = rest.find(" | ", at);
        fields.push_back(rest.substr(at, bar - at));
        if (bar == std::string::npos) break;
        at = bar + 3;
    }
    const auto flag = [&](std::size_t& At, const char* Name) {
        if (At < fields.size() && fields[At] == Name) return ++At, true;
        return false;
    };
    std::size_t at = 0;
    switch (r.Kind) {
    case TRecordKind::Frame: {
        if (fields.size() < 5) throw TBad{"too few fields for a frame"};
        r.Bytes = Need(Bytes(fields[0]), "the bytes");
        FrameShape(r);
        r.Class = Need(ClassByName(fields[1]), "the class \"" + fields[1] + "\"");
        r.Text = fields[3];
        at = 4;
        r.Retry = flag(at, "retry");
        r.Repeat = flag(at, "repeat");
        if (at + 1 + (FirstField(fields, at + 1, r) ? 1 : 0) != fields.size())
            throw TBad{"the fields after the text"};
        const std::string& verdict = fields[at];
        r.Valid = verdict == "valid";
        if (!r.Valid && verdict != "invalid") {
            if (verdict.rfind("invalid: ", 0) != 0) throw TBad{"the verdict \"" + verdict + "\""};
            std::string fault = verdict.substr(9);
            const std::size_t open = fault.find(" (");
            if (open != std::string::npos && fault.back() == ')') {
                r.LineError = Need(LineErrorByText(fault.substr(open + 2, fault.size() - open - 3)),
                                   "the line error in \"" + verdict + "\"");
                fault.resize(open);
            }
            r.Fault = Need(FaultByName(fault), "the fault \"" + fault + "\"");
        }
        break;
    }
    case TRecordKind::Reply: {
        if (fields.size() < 2) throw TBad{"too few fields for a reply"};
        if (fields[0] != "?")
            r.Bytes = Need(Bytes(fields[0].substr(0, 2)), "the reply byte");
        r.Cause = Need(CauseByName(fields[1]), "the cause \"" + fields[1] + "\"");
        at = 2;
        r.Dropped = flag(at, "dropped");
        if (at < fields.size()) {
            const std::string& latency = fields[at++];
            if (latency.rfind("latency ", 0) != 0 || latency.size() < 12 ||
                latency.substr(latency.size() - 3) != " us")
                throw TBad{"the latency \"" + latency + "\""};
            r.LatencyUs = Need(Number<std::int64_t>(string_view(latency).substr(8, latency.size() - 11)),
                               "the latency \"" + latency + "\"");
        }
        if (at != fields.size()) throw TBad{"the fields after the reply"};
        break;
    }
    case TRecordKind::Discarded:
        if (fields.size() != 2 + (FirstField(fields, 2, r) ? 1 : 0))
            throw TBad{"the fields of discarded bytes"};
        r.Bytes = Need(Bytes(fields[0]), "the bytes");
        break;
    case TRecordKind::Event:
        r.Event = Need(EventByName(fields[0]), "the event \"" + fields[0] + "\"");
        at = 1;
        if (EventHasValue(r.Event)) {
            if (fields.size() < 2) throw TBad{"the event's value"};
            r.Value = EventValue(r.Event, fields[at++]);
        }
        // A detail may itself hold the separator.
        for (std::string sep; at < fields.size(); sep = " | ") r.Detail += sep + fields[at++];
        break;
    }
    return r;
}

std::string Str(const QJsonObject& O, const char* Key) {
    const QJsonValue v = O.value(QLatin1String(Key));
    if (!v.isString()) throw TBad{std::string("\"") + Key + "\""};
    return v.toString().toStdString();
}

std::int64_t Int(const QJsonObject& O, const char* Key) {
    const QJsonValue v = O.value(QLatin1String(Key));
    if (!v.isDouble()) throw TBad{std::string("\"") + Key + "\""};
    return v.toInteger();
}

bool Bool(const QJsonObject& O, const char* Key) {
    const QJsonValue v = O.value(QLatin1String(Key));
    if (!v.isBool()) throw TBad{std::string("\"") + Key + "\""};
    return v.toBool();
}

TTrafficRecord FromJson(const QJsonObject& o) {
    TTrafficRecord r;
    r.WallUs = Need(WallUs(Str(o, "wall"), 'T'), "\"wall\"");
    r.MonoUs = Int(o, "mono_us");
    const std::string kind = Str(o, "kind");
    r.Kind = Need(KindByName(kind, false), "the kind \"" + kind + "\"");
    if (o.contains(QLatin1String("first_us"))) r.FirstMonoUs = Int(o, "first_us");
    switch (r.Kind) {
    case TRecordKind::Frame: {
        r.Bytes = Need(Bytes(Str(o, "bytes")), "\"bytes\"");
        FrameShape(r);
        r.Class = Need(ClassByName(Str(o, "class")), "\"class\"");
        r.Text = Str(o, "text");
        r.Retry = Bool(o, "retry");
        r.Repeat = Bool(o, "repeat");
        r.Valid = Bool(o, "valid");
        if (o.contains(QLatin1String("fault")))
            r.Fault = Need(FaultByName(Str(o, "fault")), "\"fault\"");
        if (o.contains(QLatin1String("line_error")))
            r.LineError = static_cast<std::uint16_t>(Int(o, "line_error"));
        break;
    }
    case TRecordKind::Reply:
        r.Bytes = Need(Bytes(Str(o, "byte")), "\"byte\"");
        r.Cause = Need(CauseByName(Str(o, "cause")), "\"cause\"");
        r.Dropped = Bool(o, "dropped");
        if (o.contains(QLatin1String("latency_us"))) r.LatencyUs = Int(o, "latency_us");
        break;
    case TRecordKind::Discarded: r.Bytes = Need(Bytes(Str(o, "bytes")), "\"bytes\""); break;
    case TRecordKind::Event:
        r.Event = Need(EventByName(Str(o, "event")), "\"event\"");
        r.Value = static_cast<std::int32_t>(Int(o, "value"));
        r.Detail = Str(o, "detail");
        break;
    }
    return r;
}

} // namespace

std::optional<TTrafficRecord> ParseCaptureLine(const std::string& Line, std::string& Error) {
    if (Line.rfind('{', 0) != 0) try {
            return FromText(Line);
        } catch (const TBad& bad) {
            Error = "cannot read " + bad.What;
            return std::nullopt;
        }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(Line), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        Error = "cannot read it: not a JSON object";
        return std::nullopt;
    }
    return ParseCaptureObject(doc.object(), Error);
}

std::optional<TTrafficRecord> ParseCaptureObject(const QJsonObject& Object, std::string& Error) {
    try {
        return FromJson(Object);
    } catch (const TBad& bad) {
        Error = "cannot read " + bad.What;
        return std::nullopt;
    }
}

std::string ConvertToPcapng(std::istream& In, std::ostream& Out) {
    Out << PcapngHeader();
    std::string line;
    for (long number = 1; std::getline(In, line); ++number) {
        if (line.empty()) continue;
        std::string error;
        const std::optional<TTrafficRecord> record = ParseCaptureLine(line, error);
        if (!record) return "line " + std::to_string(number) + ": " + error;
        Out << PcapngBlock(*record);
        if (!Out) return "cannot write the pcapng file";
    }
    if (In.bad()) return "cannot read the capture";
    return {};
}

} // namespace volmar

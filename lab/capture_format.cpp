#include "lab/capture_format.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>

#include <QJsonDocument>
#include <QJsonObject>

#include "interpret/logs.h"
#include "lab/pcapng_format.h"
#include "serial/byte_text.h"

namespace volmar {

namespace {

template <typename T>
std::string Number(T Value) {
    std::array<char, 24> digits;
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), Value).ptr;
    return std::string(digits.data(), end);
}

std::string Hex(const TRecordBytes& Bytes) {
    return HexBytes(Bytes.data(), static_cast<std::size_t>(Bytes.size()));
}

std::string_view ClassName(TDPMsgClass Class) {
    return Class < MsgClassNames.size() ? MsgClassNames[Class] : "?";
}

std::string_view CodeName(std::uint8_t Code) {
    return Code < DPMessageNames.size() ? DPMessageNames[Code] : "?";
}

const char* ReplyByteName(std::uint8_t Byte) {
    switch (Byte) {
    case kAck: return "ACK";
    case kNak: return "NAK";
    case kEsc: return "ESC";
    default: return "?";
    }
}

std::string EventValueText(const TTrafficRecord& R) {
    switch (R.Event) {
    case TLineEvent::LineError: return LineErrorText(static_cast<std::uint16_t>(R.Value));
    case TLineEvent::DeviceLost:
    case TLineEvent::DeviceBack:
    case TLineEvent::PortOpened:
    case TLineEvent::PortClosed: return "COM" + Number(R.Value);
    case TLineEvent::SpeedChanged:
    case TLineEvent::StartState: return Number(R.Value) + " baud";
    case TLineEvent::CaptureLost:
        return Number(R.Value) + (R.Value == 1 ? " record lost" : " records lost");
    default: return Number(R.Value);
    }
}

std::string Verdict(const TTrafficRecord& R) {
    if (R.Valid) return "valid";
    if (R.Fault == ffNone) return "invalid";
    std::string text = std::string("invalid: ") + FrameFaultName(R.Fault);
    if (R.Fault == ffLineError && R.LineError != 0) text += " (" + LineErrorText(R.LineError) + ")";
    return text;
}

class TTextLine {
public:
    explicit TTextLine(const TTrafficRecord& R) {
        FLine.reserve(160);
        AppendWall(FLine, R.WallUs, ' ');
        FLine += ' ';
        const std::string mono = Number(R.MonoUs);
        if (mono.size() < 14) FLine.append(14 - mono.size(), ' ');
        FLine += mono;
        FLine += ' ';
        const std::string_view kind = RecordKindColumn(R.Kind);
        FLine += kind;
        FLine.append(kind.size() < 7 ? 7 - kind.size() : 0, ' ');
        FLine += ' ';
    }
    // The fields after the fixed columns, apart so that a blank inside one
    // (a class name, a device) does not run into the next.
    TTextLine& Field(std::string_view Text) {
        if (FFields++) FLine += " | ";
        FLine += Text;
        return *this;
    }
    // Text that came from outside, kept on its line: a control character
    // shows as a caret and a letter.
    TTextLine& Outside(const std::string& Text) { return Field(BytesToControl(Text)); }
    std::string End() {
        FLine += '\n';
        return std::move(FLine);
    }

private:
    std::string FLine;
    int FFields = 0;
};

std::string TextLine(const TTrafficRecord& R) {
    TTextLine line(R);
    switch (R.Kind) {
    case TRecordKind::Frame:
        line.Field(Hex(R.Bytes)).Field(ClassName(R.Class)).Field(CodeName(R.Code)).Field(R.Text);
        if (R.Retry) line.Field("retry");
        if (R.Repeat) line.Field("repeat");
        line.Field(Verdict(R));
        if (R.FirstMonoUs != 0) line.Field("first " + Number(R.FirstMonoUs));
        break;
    case TRecordKind::Reply:
        line.Field(R.Bytes.empty() ? std::string("?")
                                   : Hex(R.Bytes) + ' ' + ReplyByteName(R.Bytes.front()));
        line.Field(ReplyCauseName(R.Cause));
        if (R.Dropped) line.Field("dropped");
        if (R.LatencyUs >= 0) line.Field("latency " + Number(R.LatencyUs) + " us");
        break;
    case TRecordKind::Discarded:
        line.Field(Hex(R.Bytes));
        line.Field(Number(R.Bytes.size()) + (R.Bytes.size() == 1 ? " byte" : " bytes"));
        if (R.FirstMonoUs != 0) line.Field("first " + Number(R.FirstMonoUs));
        break;
    case TRecordKind::Event:
        line.Field(LineEventName(R.Event));
        if (EventHasValue(R.Event)) line.Field(EventValueText(R));
        if (!R.Detail.empty()) line.Outside(R.Detail);
        break;
    }
    return line.End();
}

QString Latin1(std::string_view Text) {
    return QString::fromLatin1(Text.data(), static_cast<qsizetype>(Text.size()));
}

std::string JsonLine(const TTrafficRecord& R) {
    QJsonObject o;
    std::string wall;
    AppendWall(wall, R.WallUs, 'T');
    o.insert(QLatin1String("wall"), Latin1(wall));
    o.insert(QLatin1String("mono_us"), static_cast<qint64>(R.MonoUs));
    o.insert(QLatin1String("kind"), QLatin1String(RecordKindName(R.Kind)));
    if (R.FirstMonoUs != 0 &&
        (R.Kind == TRecordKind::Frame || R.Kind == TRecordKind::Discarded))
        o.insert(QLatin1String("first_us"), static_cast<qint64>(R.FirstMonoUs));
    switch (R.Kind) {
    case TRecordKind::Frame:
        o.insert(QLatin1String("bytes"), Latin1(Hex(R.Bytes)));
        o.insert(QLatin1String("class"), Latin1(ClassName(R.Class)));
        o.insert(QLatin1String("code"), R.Code);
        o.insert(QLatin1String("name"), Latin1(CodeName(R.Code)));
        o.insert(QLatin1String("text"), QString::fromStdString(R.Text));
        o.insert(QLatin1String("retry"), R.Retry);
        o.insert(QLatin1String("repeat"), R.Repeat);
        o.insert(QLatin1String("valid"), R.Valid);
        if (R.Fault != ffNone)
            o.insert(QLatin1String("fault"), QLatin1String(FrameFaultName(R.Fault)));
        if (R.LineError != 0) o.insert(QLatin1String("line_error"), R.LineError);
        break;
    case TRecordKind::Reply:
        o.insert(QLatin1String("byte"), Latin1(Hex(R.Bytes)));
        o.insert(QLatin1String("reply"),
                 QLatin1String(R.Bytes.empty() ? "?" : ReplyByteName(R.Bytes.front())));
        o.insert(QLatin1String("cause"), QLatin1String(ReplyCauseName(R.Cause)));
        o.insert(QLatin1String("dropped"), R.Dropped);
        if (R.LatencyUs >= 0)
            o.insert(QLatin1String("latency_us"), static_cast<qint64>(R.LatencyUs));
        break;
    case TRecordKind::Discarded:
        o.insert(QLatin1String("bytes"), Latin1(Hex(R.Bytes)));
        o.insert(QLatin1String("count"), static_cast<qint64>(R.Bytes.size()));
        break;
    case TRecordKind::Event:
        o.insert(QLatin1String("event"), QLatin1String(LineEventName(R.Event)));
        o.insert(QLatin1String("value"), R.Value);
        o.insert(QLatin1String("detail"), QString::fromStdString(R.Detail));
        break;
    }
    QByteArray json = QJsonDocument(o).toJson(QJsonDocument::Compact);
    json.append('\n');
    return json.toStdString();
}

} // namespace

const char* RecordKindName(TRecordKind Kind) {
    switch (Kind) {
    case TRecordKind::Frame: return "frame";
    case TRecordKind::Reply: return "reply";
    case TRecordKind::Discarded: return "discarded";
    case TRecordKind::Event: return "event";
    }
    return "?";
}

const char* RecordKindColumn(TRecordKind Kind) {
    switch (Kind) {
    case TRecordKind::Frame: return "RX";
    case TRecordKind::Reply: return "TX";
    case TRecordKind::Discarded: return "DISCARD";
    case TRecordKind::Event: return "EVENT";
    }
    return "?";
}

bool EventHasValue(TLineEvent Event) {
    return Event == TLineEvent::LineError || Event == TLineEvent::DeviceLost ||
           Event == TLineEvent::DeviceBack || Event == TLineEvent::PortOpened ||
           Event == TLineEvent::PortClosed || Event == TLineEvent::SpeedChanged ||
           Event == TLineEvent::CaptureLost || Event == TLineEvent::StartState ||
           Event == TLineEvent::RuleBroken;
}

std::string FormatRecord(const TTrafficRecord& Record, TCaptureFormat Format) {
    switch (Format) {
    case TCaptureFormat::Text: return TextLine(Record);
    case TCaptureFormat::JsonLines: return JsonLine(Record);
    case TCaptureFormat::Pcapng: return PcapngBlock(Record);
    }
    return TextLine(Record);
}


} // namespace volmar

#include "lab/faults.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>

#include "dataport/str_format.h"

namespace volmar {

namespace {

struct TKindName {
    TFaultKind Kind;
    const char* Key;
    const char* Text;
};
constexpr std::array<TKindName, 8> kKinds = {{
    {TFaultKind::Nak, "nak", "NAK instead of the answer"},
    {TFaultKind::Esc, "esc", "ESC instead of the answer"},
    {TFaultKind::Withhold, "withhold", "no answer"},
    {TFaultKind::Delay, "delay", "the answer late"},
    {TFaultKind::WrongByte, "wrong-byte", "a wrong answer byte"},
    {TFaultKind::Garbage, "garbage", "garbage after the answer"},
    {TFaultKind::Silence, "silence", "silence"},
    {TFaultKind::NoFirstNaks, "no-first-naks", "no first-message NAKs"},
}};

const TKindName& Named(TFaultKind Kind) {
    return *std::find_if(kKinds.begin(), kKinds.end(),
                         [Kind](const TKindName& k) { return k.Kind == Kind; });
}

bool IsReplyByte(std::uint8_t Byte) { return Byte == kAck || Byte == kNak || Byte == kEsc; }

} // namespace

const char* FaultKindKey(TFaultKind Kind) { return Named(Kind).Key; }

bool ParseCodeList(const QString& Text, std::bitset<128>& Codes) {
    std::bitset<128> codes;
    const QString text = Text.trimmed();
    if (text.isEmpty() || text == QLatin1String("all")) {
        Codes.set();
        return true;
    }
    for (const QString& part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        if (ends.size() > 2) return false;
        bool ok1 = false, ok2 = true;
        QString first = ends[0].trimmed(), last = ends.size() == 2 ? ends[1].trimmed() : first;
        for (QString* end : {&first, &last})
            if (end->endsWith(QLatin1Char('h'), Qt::CaseInsensitive)) end->chop(1);
        const uint from = first.toUInt(&ok1, 16);
        const uint to = last.toUInt(&ok2, 16);
        if (!ok1 || !ok2 || from > to || to > 0x7F) return false;
        for (uint c = from; c <= to; ++c) codes.set(c);
    }
    Codes = codes;
    return true;
}

QString CodeListText(const std::bitset<128>& Codes) {
    if (Codes.all()) return QStringLiteral("all");
    QStringList parts;
    for (int c = 0; c < 128; ++c) {
        if (!Codes.test(static_cast<std::size_t>(c))) continue;
        int end = c;
        while (end + 1 < 128 && Codes.test(static_cast<std::size_t>(end + 1))) ++end;
        parts << (end == c ? QStringLiteral("%1").arg(c, 2, 16, QLatin1Char('0')).toUpper()
                           : QStringLiteral("%1-%2")
                                 .arg(c, 2, 16, QLatin1Char('0'))
                                 .arg(end, 2, 16, QLatin1Char('0'))
                                 .toUpper());
        c = end;
    }
    return parts.join(QLatin1Char(','));
}

std::optional<TFaultRule> FaultFromJson(const QJsonObject& O, QString& Error) {
    // A misspelt key would leave the fault without what it meant to say
    // (one without its end never ends): refused, like a value of the wrong type.
    static constexpr std::array<const char*, 11> keys = {
        "kind",          "codes", "every", "probability", "firings",  "seconds",
        "delay_ms", "delay_max_ms", "byte", "count", "silence_s"};
    for (auto it = O.begin(); it != O.end(); ++it)
        if (std::none_of(keys.begin(), keys.end(),
                         [&](const char* Key) { return it.key() == QLatin1String(Key); })) {
            Error = QStringLiteral("unknown key \"%1\": a fault has kind, codes, every, "
                                   "probability, firings, seconds, delay_ms, delay_max_ms, byte, "
                                   "count, silence_s")
                        .arg(it.key());
            return std::nullopt;
        }
    TFaultRule rule;
    const QJsonValue kind = O.value(QStringLiteral("kind"));
    const auto named = std::find_if(kKinds.begin(), kKinds.end(), [&](const TKindName& k) {
        return kind.isString() && kind.toString() == QLatin1String(k.Key);
    });
    if (named == kKinds.end()) {
        Error = QStringLiteral("kind is one of nak, esc, withhold, delay, wrong-byte, garbage, "
                               "silence, no-first-naks");
        return std::nullopt;
    }
    rule.Kind = named->Kind;
    // All codes is "all" or no "codes" at all, never a blank that may be a slip.
    const QJsonValue codes = O.value(QStringLiteral("codes"));
    if (!codes.isUndefined() &&
        (!codes.isString() || codes.toString().trimmed().isEmpty() ||
         !ParseCodeList(codes.toString(), rule.Codes))) {
        Error = QStringLiteral("codes is \"all\" or a text of hex codes and ranges, e.g. \"20-2B,70\"");
        return std::nullopt;
    }
    const auto number = [&](const char* Key, double Default, double Min, double Max, bool Whole,
                            double& Out) {
        const QJsonValue v = O.value(QLatin1String(Key));
        Out = v.isUndefined() ? Default : v.isDouble() ? v.toDouble() : std::nan("");
        if (std::isnan(Out) || Out < Min || Out > Max || (Whole && std::floor(Out) != Out)) {
            Error = QStringLiteral("%1 is a %2number from %3 to %4")
                        .arg(QLatin1String(Key), Whole ? QStringLiteral("whole ") : QString())
                        .arg(Min)
                        .arg(Max);
            return false;
        }
        return true;
    };
    double every = 1, firings = 0, delay = 500, delayMax = 0, byte = 0x3F, count = 3;
    if (!number("every", 1, 1, 1e6, true, every) ||
        !number("probability", 1, 0, 1, false, rule.Probability) ||
        !number("firings", 0, 0, 1e9, true, firings) ||
        !number("seconds", 0, 0, 1e7, false, rule.ForSeconds) ||
        !number("delay_ms", 500, 0, 60000, true, delay) ||
        !number("delay_max_ms", 0, 0, 60000, true, delayMax) ||
        !number("byte", 0x3F, 0, 255, true, byte) || !number("count", 3, 1, 64, true, count) ||
        !number("silence_s", 5, 0, 3600, false, rule.SilenceSeconds))
        return std::nullopt;
    rule.EveryNth = static_cast<int>(every);
    rule.MaxFirings = static_cast<int>(firings);
    rule.DelayMs = static_cast<int>(delay);
    rule.DelayMaxMs = static_cast<int>(delayMax);
    rule.Byte = static_cast<std::uint8_t>(byte);
    rule.GarbageCount = static_cast<int>(count);
    if (rule.Kind == TFaultKind::WrongByte && IsReplyByte(rule.Byte)) {
        Error = QStringLiteral("byte must be none of 06h, 15h, 1Bh");
        return std::nullopt;
    }
    return rule;
}

QJsonObject FaultToJson(const TFaultRule& S) {
    QJsonObject o{{QStringLiteral("kind"), QLatin1String(FaultKindKey(S.Kind))},
                  {QStringLiteral("codes"), CodeListText(S.Codes)},
                  {QStringLiteral("every"), S.EveryNth},
                  {QStringLiteral("probability"), S.Probability},
                  {QStringLiteral("firings"), S.MaxFirings},
                  {QStringLiteral("seconds"), S.ForSeconds}};
    if (S.Kind == TFaultKind::Delay) {
        o.insert(QStringLiteral("delay_ms"), S.DelayMs);
        o.insert(QStringLiteral("delay_max_ms"), S.DelayMaxMs);
    }
    if (S.Kind == TFaultKind::WrongByte) o.insert(QStringLiteral("byte"), S.Byte);
    if (S.Kind == TFaultKind::Garbage) o.insert(QStringLiteral("count"), S.GarbageCount);
    if (S.Kind == TFaultKind::Silence) o.insert(QStringLiteral("silence_s"), S.SilenceSeconds);
    return o;
}

QString FaultText(const TFaultRule& S) {
    QString text = QLatin1String(Named(S.Kind).Text);
    if (S.Kind == TFaultKind::Delay)
        text += S.DelayMaxMs > S.DelayMs
                    ? QStringLiteral(" (%1-%2 ms)").arg(S.DelayMs).arg(S.DelayMaxMs)
                    : QStringLiteral(" (%1 ms)").arg(S.DelayMs);
    if (S.Kind == TFaultKind::WrongByte)
        text += QStringLiteral(" (%1h)").arg(QString::number(S.Byte, 16).rightJustified(2, QLatin1Char('0')).toUpper());
    if (S.Kind == TFaultKind::Garbage) text += QStringLiteral(" (%1 bytes)").arg(S.GarbageCount);
    if (S.Kind == TFaultKind::Silence) text += QStringLiteral(" for %1 s").arg(S.SilenceSeconds);
    if (S.Kind != TFaultKind::NoFirstNaks && !S.Codes.all())
        text += QStringLiteral(", codes ") + CodeListText(S.Codes);
    if (S.EveryNth > 1) text += QStringLiteral(", every %1 messages").arg(S.EveryNth);
    if (S.Probability < 1) text += QStringLiteral(", p=%1").arg(S.Probability);
    if (S.MaxFirings == 1)
        text += QStringLiteral(", once");
    else if (S.MaxFirings > 1)
        text += QStringLiteral(", %1 times").arg(S.MaxFirings);
    if (S.ForSeconds > 0) text += QStringLiteral(", for %1 s").arg(S.ForSeconds);
    return text;
}

TFaults::TFaults(std::function<std::uint32_t()> NowMs) : FNowMs(std::move(NowMs)) {}

int TFaults::Arm(const TFaultRule& Rule) {
    FEntries.push_back({FNextId, Rule, 0, 0, FNowMs()});
    if (OnChanged) OnChanged();
    return FNextId++;
}

void TFaults::Disarm(int Id) {
    const auto gone = std::erase_if(FEntries, [Id](const TEntry& E) { return E.Id == Id; });
    if (FSilent && FSilentId == Id) FSilent = false;
    if (gone > 0 && OnChanged) OnChanged();
}

void TFaults::Clear() {
    const bool had = !FEntries.empty() || FSilent;
    FEntries.clear();
    FSilent = false;
    if (had && OnChanged) OnChanged();
}

void TFaults::Expire() {
    const std::uint32_t now = FNowMs();
    bool changed = false;
    if (FSilent && static_cast<std::int32_t>(now - FSilentUntilMs) >= 0) {
        FSilent = false;
        changed = true;
    }
    // A silence that has fired its last stays listed while it lasts.
    const auto over = [&](const TEntry& E) {
        if (FSilent && E.Id == FSilentId) return false;
        return (E.Rule.MaxFirings > 0 && E.Firings >= E.Rule.MaxFirings) ||
               (E.Rule.ForSeconds > 0 && now - E.ArmedMs >= E.Rule.ForSeconds * 1000);
    };
    const std::size_t before = FEntries.size();
    std::erase_if(FEntries, over);
    if ((changed || FEntries.size() != before) && OnChanged) OnChanged();
}

bool TFaults::Active() {
    Expire();
    return !FEntries.empty() || FSilent;
}

std::vector<TFaults::TArmed> TFaults::List() {
    Expire();
    std::vector<TArmed> list;
    for (const TEntry& e : FEntries) list.push_back({e.Id, e.Rule, e.Firings});
    return list;
}

bool TFaults::Fires(TEntry& Entry, std::uint8_t Code) {
    if (!Entry.Rule.Codes.test(Code & 0x7F)) return false;
    if (++Entry.Matches % Entry.Rule.EveryNth != 0) return false;
    if (Entry.Rule.Probability < 1 &&
        std::uniform_real_distribution<double>(0, 1)(FRandom) >= Entry.Rule.Probability)
        return false;
    return true;
}

void TFaults::Fired(TEntry& Entry, const std::string& What) {
    ++Entry.Firings;
    if (OnFired) OnFired(Entry.Rule, What);
}

std::optional<TAcception> TFaults::ForcedAnswer(const TDPMessage& Msg) {
    Expire();
    for (TEntry& e : FEntries) {
        if (e.Rule.Kind != TFaultKind::Nak && e.Rule.Kind != TFaultKind::Esc) continue;
        if (!Fires(e, Msg.Code())) continue;
        const bool nak = e.Rule.Kind == TFaultKind::Nak;
        Fired(e, StrFormat("%s instead of the answer to %.2Xh", nak ? "NAK" : "ESC", Msg.Code()));
        // Its last firing ends it now, not at the next message.
        Expire();
        return nak ? acRejected : acNotSupported;
    }
    return std::nullopt;
}

TReplyAction TFaults::FilterReply(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code) {
    Expire();
    TReplyAction action = Filter(Byte, Cause, Code);
    // A last firing ends its fault now, not at the next reply.
    Expire();
    return action;
}

TReplyAction TFaults::Filter(std::uint8_t& Byte, TReplyCause Cause, std::uint8_t Code) {
    TReplyAction action;
    if (FSilent) {
        action.Send = false;
        return action;
    }
    for (TEntry& e : FEntries) {
        const TFaultKind kind = e.Rule.Kind;
        if (kind == TFaultKind::NoFirstNaks) {
            if (Cause != rcFirstMessageNak) continue;
            Fired(e, "first-message NAK withheld");
            action.Send = false;
            return action;
        }
        if (Cause != rcAnswer || kind == TFaultKind::Nak || kind == TFaultKind::Esc) continue;
        if (!Fires(e, Code)) continue;
        switch (kind) {
        case TFaultKind::Withhold:
            Fired(e, StrFormat("answer to %.2Xh withheld", Code));
            action.Send = false;
            break;
        case TFaultKind::Delay:
            action.DelayMs = e.Rule.DelayMaxMs > e.Rule.DelayMs
                                 ? std::uniform_int_distribution<int>(e.Rule.DelayMs,
                                                                      e.Rule.DelayMaxMs)(FRandom)
                                 : e.Rule.DelayMs;
            action.Send = false;
            Fired(e, StrFormat("answer to %.2Xh delayed %d ms", Code, action.DelayMs));
            break;
        case TFaultKind::WrongByte:
            Fired(e, StrFormat("answer to %.2Xh sent as %.2Xh", Code, e.Rule.Byte));
            Byte = e.Rule.Byte;
            break;
        case TFaultKind::Garbage:
            action.Garbage = e.Rule.GarbageCount;
            Fired(e, StrFormat("%d garbage bytes after the answer to %.2Xh", action.Garbage, Code));
            break;
        case TFaultKind::Silence:
            FSilent = true;
            FSilentId = e.Id;
            FSilentUntilMs = FNowMs() + static_cast<std::uint32_t>(e.Rule.SilenceSeconds * 1000);
            Fired(e, StrFormat("silent for %g s from the answer to %.2Xh", e.Rule.SilenceSeconds,
                               Code));
            action.Send = false;
            break;
        default: break;
        }
        return action;
    }
    return action;
}

} // namespace volmar

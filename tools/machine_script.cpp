#include "tools/machine_script.h"

#include "dataport/message.h"
#include "tools/machine_messages.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace volmar::machine {

namespace {

struct TToken {
    std::string Text;
    bool Quoted = false; // began with a double quote: a message name
};

std::string LowerCase(std::string_view Text) {
    std::string s(Text);
    std::transform(s.begin(), s.end(), s.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    });
    return s;
}

// Splits on blanks; double quotes group a name with blanks in it and '#'
// outside them ends the line. Raises EBadValue for an open quote.
std::vector<TToken> Tokenize(std::string_view Line) {
    std::vector<TToken> tokens;
    std::size_t i = 0;
    while (i < Line.size()) {
        const char c = Line[i];
        if (c == '#') break;
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        TToken t;
        t.Quoted = c == '"';
        while (i < Line.size() && !std::isspace(static_cast<unsigned char>(Line[i])) &&
               Line[i] != '#') {
            if (Line[i] == '"') {
                const std::size_t close = Line.find('"', i + 1);
                if (close == std::string_view::npos)
                    throw EBadValue("a double quote is not closed");
                t.Text.append(Line.substr(i + 1, close - i - 1));
                i = close + 1;
            } else {
                t.Text.push_back(Line[i++]);
            }
        }
        tokens.push_back(std::move(t));
    }
    return tokens;
}

int Milliseconds(std::string_view Text, const std::string& What) {
    const auto n = ParseNumber(Text);
    if (!n || Text.find_first_not_of("0123456789") != std::string_view::npos)
        throw EBadValue(What + " \"" + std::string(Text) + "\" is not a number of milliseconds");
    if (*n > static_cast<std::uint32_t>(kMaxScriptMs))
        throw EBadValue(What + " " + std::string(Text) + " is longer than a day");
    return static_cast<int>(*n);
}

// Takes "-> answer" off the end of the tokens, if it is there.
std::optional<TReply> TakeExpectation(std::vector<TToken>& Tokens) {
    for (std::size_t i = 0; i < Tokens.size(); ++i) {
        if (Tokens[i].Quoted || !Tokens[i].Text.starts_with("->")) continue;
        std::string word = Tokens[i].Text.substr(2);
        std::size_t used = 1;
        if (word.empty()) {
            if (i + 1 >= Tokens.size())
                throw EBadValue("\"->\" needs an answer: Ack, Nak, Esc or none");
            word = Tokens[i + 1].Text;
            used = 2;
        }
        const auto reply = ParseReply(word);
        if (!reply || *reply == TReply::Other)
            throw EBadValue("\"" + word + "\" is not an answer: give Ack, Nak, Esc or none");
        if (i + used != Tokens.size()) {
            // Only raw's wait= may follow the answer.
            for (std::size_t k = i + used; k < Tokens.size(); ++k)
                if (!LowerCase(Tokens[k].Text).starts_with("wait="))
                    throw EBadValue("\"" + Tokens[k].Text + "\" after the expected answer");
        }
        Tokens.erase(Tokens.begin() + static_cast<std::ptrdiff_t>(i),
                     Tokens.begin() + static_cast<std::ptrdiff_t>(i + used));
        return reply;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> HexBytesOf(const std::vector<TToken>& Tokens, std::size_t From) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = From; i < Tokens.size(); ++i) {
        const auto b = ParseHexByte(Tokens[i].Text);
        if (!b || Tokens[i].Quoted)
            throw EBadValue("\"" + Tokens[i].Text + "\" is not a byte in hexadecimal (00 to FF)");
        bytes.push_back(*b);
    }
    return bytes;
}

std::string Named(std::uint8_t Code) {
    // Appended, not "\"" + std::string(...): GCC 12 at -O3 warns falsely
    // (-Wrestrict) about a literal put before a temporary string.
    std::string text = "\"";
    text += DPMessageNames[Code];
    text += "\" (";
    text += CodeText(Code);
    text += ')';
    return text;
}

void CheckDataCount(std::uint8_t Code, std::size_t Count) {
    const TCodeShape shape = ClassifyHeader(Code);
    if (shape.MsgClass == mcVariableLength) {
        if (Count < 1 || Count > static_cast<std::size_t>(kMaxDataLength))
            throw EBadValue(Named(Code) + " carries 1 to 20 data bytes, not " +
                            std::to_string(Count));
        return;
    }
    if (Count != shape.DataLength)
        throw EBadValue(Named(Code) + " carries " +
                        (shape.DataLength == 0   ? std::string("no data bytes")
                         : shape.DataLength == 1 ? std::string("one data byte")
                                                 : std::string("two data bytes")) +
                        ", not " + std::to_string(Count));
}

TStep ParseSend(std::vector<TToken>& Tokens) {
    TStep step;
    step.Kind = TStep::skSend;
    step.Expect = TakeExpectation(Tokens);
    if (Tokens.size() < 2)
        throw EBadValue("send needs a message: a code (26h, 0x26, 38) or a \"name\"");
    const std::uint8_t code = ResolveMessage(Tokens[1].Text, Tokens[1].Quoted);
    bool retry = false, noretry = false;
    std::size_t i = 2;
    for (; i < Tokens.size() && !Tokens[i].Quoted; ++i) {
        const std::string word = LowerCase(Tokens[i].Text);
        if (word == "retry") {
            if (retry) throw EBadValue("\"retry\" is given twice");
            retry = true;
        } else if (word == "noretry") {
            if (noretry) throw EBadValue("\"noretry\" is given twice");
            noretry = true;
        } else {
            break;
        }
    }
    step.Header = static_cast<std::uint8_t>(retry ? code | 0x80 : code);
    step.AutoRetry = !noretry;

    const TCodeShape shape = ClassifyHeader(code);
    const std::size_t args = Tokens.size() - i;
    if (args > 0 && !Tokens[i].Quoted && LowerCase(Tokens[i].Text) == "bytes") {
        step.Data = HexBytesOf(Tokens, i + 1);
        CheckDataCount(code, step.Data.size());
        return step;
    }
    for (std::size_t k = i; k < Tokens.size(); ++k)
        if (LowerCase(Tokens[k].Text) == "retry" || LowerCase(Tokens[k].Text) == "noretry")
            throw EBadValue("\"" + Tokens[k].Text + "\" goes right after the message");
    switch (shape.MsgClass) {
    case mcSingleByte:
    case mcHeaderOnly:
        if (args > 0)
            throw EBadValue(Named(code) + " carries no data: \"" + Tokens[i].Text +
                            "\" is one too many");
        break;
    case mcOneDataByte:
    case mcTwoDataBytes: {
        if (args == 0)
            throw EBadValue(Named(code) + " needs its value: a number, or bytes <hex...>");
        if (args > 1)
            throw EBadValue(Named(code) + " takes one number, not " + std::to_string(args) +
                            " words");
        const auto n = ParseNumber(Tokens[i].Text);
        if (!n || Tokens[i].Quoted) throw EBadValue("\"" + Tokens[i].Text + "\" is not a number");
        step.Data = EncodeNumber(code, *n);
        break;
    }
    default:
        if (code == kPowerOn) {
            std::vector<std::string> pairs;
            for (std::size_t k = i; k < Tokens.size(); ++k)
                pairs.push_back(Tokens[k].Text);
            step.Data = EncodePowerOn(ParsePowerOnPairs(pairs));
        } else {
            throw EBadValue(Named(code) + " needs its data as bytes <hex...>");
        }
        break;
    }
    return step;
}

TStep ParseRaw(std::vector<TToken>& Tokens) {
    TStep step;
    step.Kind = TStep::skRaw;
    step.Expect = TakeExpectation(Tokens);
    TRawSegment segment;
    bool pausePending = false; // a pause that no byte has followed yet
    bool anyByte = false;
    for (std::size_t i = 1; i < Tokens.size(); ++i) {
        const TToken& t = Tokens[i];
        const std::string word = LowerCase(t.Text);
        if (!t.Quoted && word.starts_with("wait=")) {
            if (step.WaitMs) throw EBadValue("wait= is given twice");
            step.WaitMs = Milliseconds(word.substr(5), "wait");
            if (*step.WaitMs == 0) throw EBadValue("wait=0 would never see an answer");
        } else if (!t.Quoted && word.starts_with("~")) {
            if (!segment.Bytes.empty()) step.Segments.push_back(std::exchange(segment, {}));
            segment.PauseMs += Milliseconds(word.substr(1), "pause");
            pausePending = true;
        } else {
            const auto b = ParseHexByte(t.Text);
            if (!b || t.Quoted)
                throw EBadValue("\"" + t.Text +
                                "\" is neither a byte in hexadecimal nor a ~MS pause");
            segment.Bytes.push_back(*b);
            pausePending = false;
            anyByte = true;
        }
    }
    if (!anyByte) throw EBadValue("raw needs at least one byte");
    if (pausePending) throw EBadValue("a ~MS pause must come before a byte");
    step.Segments.push_back(std::move(segment));
    return step;
}

TStep ParseLine(std::vector<TToken>& Tokens) {
    const std::string keyword = Tokens[0].Quoted ? std::string() : LowerCase(Tokens[0].Text);
    if (keyword == "send") return ParseSend(Tokens);
    if (keyword == "raw") return ParseRaw(Tokens);
    if (keyword == "pause") {
        if (Tokens.size() != 2) throw EBadValue("pause takes one number of milliseconds");
        TStep step;
        step.Kind = TStep::skPause;
        step.PauseMs = Milliseconds(Tokens[1].Text, "pause");
        return step;
    }
    if (keyword == "rts") {
        const std::string level = Tokens.size() == 2 ? LowerCase(Tokens[1].Text) : std::string();
        if (level != "on" && level != "off") throw EBadValue("rts takes on or off");
        TStep step;
        step.Kind = TStep::skRts;
        step.Rts = level == "on";
        return step;
    }
    throw EBadValue("\"" + Tokens[0].Text + "\" is not a command: send, raw, pause or rts");
}

} // namespace

std::optional<TReply> ParseReply(std::string_view Word) {
    const std::string w = LowerCase(Word);
    if (w == "ack") return TReply::Ack;
    if (w == "nak") return TReply::Nak;
    if (w == "esc") return TReply::Esc;
    if (w == "none") return TReply::None;
    return std::nullopt;
}

const char* ReplyWord(TReply Reply) {
    switch (Reply) {
    case TReply::Ack: return "Ack";
    case TReply::Nak: return "Nak";
    case TReply::Esc: return "Esc";
    case TReply::None: return "none";
    default: return "other";
    }
}

EScriptError::EScriptError(const std::string& File, int Line, const std::string& What)
    : std::runtime_error(File + ":" + std::to_string(Line) + ": " + What), FLine(Line),
      FReason(What) {}

TScript ParseScript(std::string_view Text, const std::string& FileName) {
    TScript script;
    int number = 0;
    std::size_t start = 0;
    while (start <= Text.size()) {
        std::size_t end = Text.find('\n', start);
        if (end == std::string_view::npos) end = Text.size();
        std::string_view line = Text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++number;
        try {
            std::vector<TToken> tokens = Tokenize(line);
            if (!tokens.empty()) {
                TStep step = ParseLine(tokens);
                step.Line = number;
                script.Steps.push_back(std::move(step));
            }
        } catch (const EBadValue& e) {
            throw EScriptError(FileName, number, e.what());
        }
        if (end == Text.size()) break;
        start = end + 1;
    }
    return script;
}

} // namespace volmar::machine

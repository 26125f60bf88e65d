#include "tools/machine_messages.h"

#include "dataport/message.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace volmar::machine {

namespace {

char Lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool SameText(std::string_view A, std::string_view B) {
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(),
                                              [](char a, char b) { return Lower(a) == Lower(b); });
}

std::optional<std::uint32_t> Digits(std::string_view Text, unsigned Base) {
    if (Text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : Text) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (Base == 16 && Lower(c) >= 'a' && Lower(c) <= 'f')
            digit = static_cast<unsigned>(Lower(c) - 'a' + 10);
        else
            return std::nullopt;
        value = value * Base + digit;
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint8_t Bcd(std::uint32_t TwoDigits) {
    return static_cast<std::uint8_t>((TwoDigits / 10) << 4 | (TwoDigits % 10));
}

// The number after "key=", with the key named in the complaint.
std::uint32_t PairNumber(const std::string& Key, const std::string& Value, std::uint32_t Max) {
    const auto n = ParseNumber(Value);
    if (!n) throw EBadValue(Key + "=" + Value + ": not a number");
    if (*n > Max)
        throw EBadValue(Key + "=" + Value + ": above the largest value, " + std::to_string(Max));
    return *n;
}

std::string Characters(const std::string& Key, const std::string& Value, std::size_t Count) {
    if (Value.size() != Count)
        throw EBadValue(
            Key + "=" + Value + ": takes " +
            (Count == 1 ? std::string("one character") : std::to_string(Count) + " characters"));
    return Value;
}

} // namespace

std::optional<std::uint32_t> ParseNumber(std::string_view Text) {
    if (Text.size() > 2 && Text[0] == '0' && Lower(Text[1]) == 'x')
        return Digits(Text.substr(2), 16);
    if (Text.size() > 1 && Lower(Text.back()) == 'h')
        return Digits(Text.substr(0, Text.size() - 1), 16);
    return Digits(Text, 10);
}

std::optional<std::uint8_t> ParseHexByte(std::string_view Text) {
    if (Text.size() > 2 && Text[0] == '0' && Lower(Text[1]) == 'x')
        Text.remove_prefix(2);
    else if (Text.size() > 1 && Lower(Text.back()) == 'h')
        Text.remove_suffix(1);
    if (Text.empty() || Text.size() > 2) return std::nullopt;
    const auto n = Digits(Text, 16);
    if (!n) return std::nullopt;
    return static_cast<std::uint8_t>(*n);
}

std::vector<std::string> NearestNames(std::string_view Name) {
    // Levenshtein distance over one row, case ignored.
    const auto distance = [](std::string_view A, std::string_view B) {
        std::vector<std::size_t> row(B.size() + 1);
        for (std::size_t j = 0; j <= B.size(); ++j) row[j] = j;
        for (std::size_t i = 1; i <= A.size(); ++i) {
            std::size_t diagonal = row[0];
            row[0] = i;
            for (std::size_t j = 1; j <= B.size(); ++j) {
                const std::size_t above = row[j];
                row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                                   diagonal + (Lower(A[i - 1]) == Lower(B[j - 1]) ? 0 : 1)});
                diagonal = above;
            }
        }
        return row[B.size()];
    };
    // A typo or two, and never more than a third of the name.
    const std::size_t limit = std::min<std::size_t>(2, std::max<std::size_t>(1, Name.size() / 3));
    std::size_t best = limit + 1;
    std::vector<std::string> nearest;
    for (const std::string_view candidate : DPMessageNames) {
        const std::size_t d = distance(Name, candidate);
        if (d > best) continue;
        if (d < best) nearest.clear();
        best = d;
        if (std::find(nearest.begin(), nearest.end(), candidate) == nearest.end() &&
            nearest.size() < 3)
            nearest.emplace_back(candidate);
    }
    return nearest;
}

std::string CodeText(std::uint8_t Code) {
    static constexpr char digits[] = "0123456789ABCDEF";
    return {digits[Code >> 4], digits[Code & 15], 'h'};
}

std::uint8_t ResolveMessage(std::string_view Token, bool Quoted) {
    if (Quoted) {
        std::vector<std::uint8_t> codes;
        for (std::size_t code = 0; code < DPMessageNames.size(); ++code)
            if (SameText(DPMessageNames[code], Token))
                codes.push_back(static_cast<std::uint8_t>(code));
        if (codes.empty()) {
            std::string text = "no message is named \"" + std::string(Token) + "\"";
            const std::vector<std::string> near = NearestNames(Token);
            for (std::size_t i = 0; i < near.size(); ++i)
                text += (i == 0 ? "; did you mean \"" : i + 1 == near.size() ? " or \"" : ", \"") +
                        near[i] + "\"";
            throw EBadValue(text + (near.empty() ? "" : "?") +
                            " (volmar-machine --list names every message)");
        }
        if (codes.size() > 1)
            throw EBadValue("\"" + std::string(Token) + "\" names " + std::to_string(codes.size()) +
                            " codes (" + CodeText(codes.front()) + " to " + CodeText(codes.back()) +
                            "); give the code instead");
        return codes.front();
    }
    const auto n = ParseNumber(Token);
    if (!n)
        throw EBadValue(
            "\"" + std::string(Token) +
            "\" is not a message: give a code (26h, 0x26 or 38) or a name in double quotes");
    if (*n > 0x7F)
        throw EBadValue("code " + std::string(Token) +
                        " is above 7Fh; codes run from 00h to 7Fh (\"retry\" sets bit 7)");
    return static_cast<std::uint8_t>(*n);
}

std::vector<std::uint8_t> EncodeNumber(std::uint8_t Code, std::uint32_t Value) {
    const TCodeShape shape = ClassifyHeader(Code);
    const std::string name =
        std::string(DPMessageNames[Code & 0x7F]) + " (" + CodeText(Code & 0x7F) + ")";
    if (shape.MsgClass == mcOneDataByte) {
        if (Value > 0xFF)
            throw EBadValue(name + " carries one byte: " + std::to_string(Value) + " is above 255");
        return {static_cast<std::uint8_t>(Value)};
    }
    if (shape.MsgClass == mcTwoDataBytes) {
        if (Value > 0xFFFF)
            throw EBadValue(name + " carries a 16-bit value: " + std::to_string(Value) +
                            " is above 65535");
        return {static_cast<std::uint8_t>(Value >> 8), static_cast<std::uint8_t>(Value)};
    }
    throw EBadValue(name + " takes no number");
}

std::vector<std::uint8_t> EncodeValue32(std::uint32_t Value, bool BCD) {
    if (!BCD)
        return {static_cast<std::uint8_t>(Value >> 24), static_cast<std::uint8_t>(Value >> 16),
                static_cast<std::uint8_t>(Value >> 8), static_cast<std::uint8_t>(Value)};
    if (Value > 99999999)
        throw EBadValue(std::to_string(Value) + " has more than eight BCD digits");
    return {Bcd(Value / 1000000), Bcd(Value / 10000 % 100), Bcd(Value / 100 % 100),
            Bcd(Value % 100)};
}

std::vector<std::uint8_t> EncodePowerOn(const TPowerOnIdentity& Identity) {
    std::vector<std::uint8_t> d(20, 0);
    for (std::size_t i = 0; i < 3 && i < Identity.Manufacturer.size(); ++i)
        d[i] = static_cast<std::uint8_t>(Identity.Manufacturer[i]);
    for (std::size_t i = 0; i < 3 && i < Identity.Version.size(); ++i)
        d[7 + i] = static_cast<std::uint8_t>(Identity.Version[i]);
    d[10] = static_cast<std::uint8_t>(Identity.AMC >> 8);
    d[11] = static_cast<std::uint8_t>(Identity.AMC);
    d[12] = Identity.Dataport;
    d[13] = static_cast<std::uint8_t>(Identity.CreditValue >> 8);
    d[14] = static_cast<std::uint8_t>(Identity.CreditValue);
    d[15] = Identity.Percent;
    d[16] = static_cast<std::uint8_t>(Identity.Switches >> 8);
    d[17] = static_cast<std::uint8_t>(Identity.Switches);
    d[18] = static_cast<std::uint8_t>(Identity.Protocol);
    d[19] = Identity.BCDValues ? 0 : 1;
    return d;
}

TPowerOnIdentity ParsePowerOnPairs(const std::vector<std::string>& Pairs) {
    TPowerOnIdentity id;
    std::map<std::string, bool> seen;
    for (const std::string& pair : Pairs) {
        const auto eq = pair.find('=');
        if (eq == std::string::npos || eq == 0)
            throw EBadValue("\"" + pair +
                            "\" is not key=value (Power on takes manufacturer, version, amc, "
                            "dataport, credit, percent, switches, protocol, values)");
        std::string key = pair.substr(0, eq);
        std::transform(key.begin(), key.end(), key.begin(), Lower);
        const std::string value = pair.substr(eq + 1);
        if (seen[key]) throw EBadValue(key + "= is given twice");
        seen[key] = true;
        if (key == "manufacturer")
            id.Manufacturer = Characters(key, value, 3);
        else if (key == "version")
            id.Version = Characters(key, value, 3);
        else if (key == "amc")
            id.AMC = static_cast<std::uint16_t>(PairNumber(key, value, 0xFFFF));
        else if (key == "dataport")
            id.Dataport = static_cast<std::uint8_t>(PairNumber(key, value, 0xFF));
        else if (key == "credit")
            id.CreditValue = static_cast<std::uint16_t>(PairNumber(key, value, 0xFFFF));
        else if (key == "percent")
            id.Percent = static_cast<std::uint8_t>(PairNumber(key, value, 0xFF));
        else if (key == "switches")
            id.Switches = static_cast<std::uint16_t>(PairNumber(key, value, 0xFFFF));
        else if (key == "protocol")
            id.Protocol = Characters(key, value, 1)[0];
        else if (key == "values") {
            if (SameText(value, "bcd"))
                id.BCDValues = true;
            else if (SameText(value, "binary"))
                id.BCDValues = false;
            else
                throw EBadValue("values=" + value + ": give bcd or binary");
        } else {
            throw EBadValue("Power on has no key \"" + key +
                            "\" (keys: manufacturer, version, amc, dataport, credit, percent, "
                            "switches, protocol, values)");
        }
    }
    return id;
}

std::uint8_t CoinCode(std::uint8_t First, std::uint32_t Forint) {
    for (std::uint8_t i = 0; i < 12; ++i)
        if (kDenominations[i] == Forint) return static_cast<std::uint8_t>(First + i);
    throw EBadValue("no coin or note of " + std::to_string(Forint) + " Ft");
}

} // namespace volmar::machine

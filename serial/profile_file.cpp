#include "serial/profile_file.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "dataport/file_store.h"

namespace volmar {

namespace {

// Far more than any settings file; a file linked to an endless source stops here.
constexpr std::size_t kMaxProfileBytes = 1024 * 1024;

std::string_view Content(std::string_view Line) {
    if (!Line.empty() && Line.back() == '\r') Line.remove_suffix(1);
    return Line;
}

std::string_view Trim(std::string_view S) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!S.empty() && blank(S.front())) S.remove_prefix(1);
    while (!S.empty() && blank(S.back())) S.remove_suffix(1);
    return S;
}

// Names are 8-bit text; only ASCII letters fold.
bool SameName(std::string_view A, std::string_view B) {
    const auto fold = [](char c) {
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    };
    return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(),
                                              [&](char x, char y) { return fold(x) == fold(y); });
}

bool HeaderName(std::string_view Line, std::string_view& Name) {
    const std::string_view t = Trim(Content(Line));
    if (t.empty() || t.front() != '[') return false;
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) return false;
    Name = Trim(t.substr(1, close - 1));
    return true;
}

bool IsComment(std::string_view Trimmed) {
    return !Trimmed.empty() && (Trimmed.front() == ';' || Trimmed.front() == '#');
}

// The key of a "Key=Value" line and the position of its "=".
bool KeyOf(std::string_view Line, std::string_view& Key, std::size_t& Equals) {
    const std::string_view c = Content(Line);
    const std::string_view t = Trim(c);
    std::string_view name;
    if (t.empty() || IsComment(t) || HeaderName(Line, name)) return false;
    Equals = c.find('=');
    if (Equals == std::string_view::npos) return false;
    Key = Trim(c.substr(0, Equals));
    return !Key.empty();
}

bool ParseInteger(std::string_view S, std::int32_t& Value) {
    S = Trim(S);
    bool hex = false;
    if (!S.empty() && S.front() == '$') {
        S.remove_prefix(1);
        hex = true;
    } else if (S.size() > 1 && S[0] == '0' && (S[1] == 'x' || S[1] == 'X')) {
        S.remove_prefix(2);
        hex = true;
    }
    if (S.empty()) return false;
    const char* end = S.data() + S.size();
    if (hex) {
        // Eight hexadecimal digits are the 32 bits as they stand: $FFFFFFFF is -1.
        std::uint32_t u = 0;
        const auto r = std::from_chars(S.data(), end, u, 16);
        if (r.ec != std::errc() || r.ptr != end) return false;
        Value = static_cast<std::int32_t>(u);
        return true;
    }
    std::int32_t v = 0;
    const auto r = std::from_chars(S.data(), end, v, 10);
    if (r.ec != std::errc() || r.ptr != end) return false;
    Value = v;
    return true;
}

} // namespace

void TProfileFile::Load(const std::string& Path) {
    FLines.clear();
    FFinalNewline = true;
    FCrLf = false;
    const auto data =
        RaisingAs<EProfileFileError>([&] { return ReadRegularFile(Path, kMaxProfileBytes + 1); });
    if (!data) return;
    if (data->size() > kMaxProfileBytes)
        throw EProfileFileError("Cannot open file " + Path + ": larger than 1 MiB");
    std::string_view rest(*data);
    if (rest.empty()) return;
    FFinalNewline = rest.back() == '\n';
    if (FFinalNewline) rest.remove_suffix(1);
    for (;;) {
        const std::size_t nl = rest.find('\n');
        FLines.emplace_back(rest.substr(0, nl));
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    FCrLf = !FLines.front().empty() && FLines.front().back() == '\r';
}

std::string TProfileFile::Text() const {
    std::string out;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        if (i > 0) out += '\n';
        out += FLines[i];
    }
    if (!FLines.empty() && FFinalNewline) out += '\n';
    return out;
}

void TProfileFile::Save(const std::string& Path) const {
    RaisingAs<EProfileFileError>([&] { ReplaceFile(Path, Text()); });
}

bool TProfileFile::FindSection(const std::string& Section, TSpan& Span) const {
    std::string_view name;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        if (!HeaderName(FLines[i], name) || !SameName(name, Section)) continue;
        std::size_t end = i + 1;
        while (end < FLines.size() && !HeaderName(FLines[end], name)) ++end;
        Span = {i, end};
        return true;
    }
    return false;
}

std::size_t TProfileFile::FindKey(const TSpan& Span, const std::string& Key) const {
    std::string_view key;
    std::size_t equals = 0;
    for (std::size_t i = Span.Header + 1; i < Span.End; ++i)
        if (KeyOf(FLines[i], key, equals) && SameName(key, Key)) return i;
    return std::string::npos;
}

bool TProfileFile::SectionExists(const std::string& Section) const {
    TSpan span{};
    return FindSection(Section, span);
}

std::vector<std::string> TProfileFile::Keys(const std::string& Section) const {
    std::vector<std::string> keys;
    TSpan span{};
    if (!FindSection(Section, span)) return keys;
    std::string_view key;
    std::size_t equals = 0;
    for (std::size_t i = span.Header + 1; i < span.End; ++i) {
        if (!KeyOf(FLines[i], key, equals)) continue;
        // A repeated key is never read, so it is not listed again.
        if (std::none_of(keys.begin(), keys.end(),
                         [&](const std::string& k) { return SameName(k, key); }))
            keys.emplace_back(key);
    }
    return keys;
}

std::string TProfileFile::ReadString(const std::string& Section, const std::string& Key,
                                     const std::string& Default) const {
    TSpan span{};
    if (!FindSection(Section, span)) return Default;
    const std::size_t line = FindKey(span, Key);
    if (line == std::string::npos) return Default;
    std::string_view key;
    std::size_t equals = 0;
    KeyOf(FLines[line], key, equals);
    return std::string(Trim(Content(FLines[line]).substr(equals + 1)));
}

bool TProfileFile::KeyExists(const std::string& Section, const std::string& Key) const {
    TSpan span{};
    return FindSection(Section, span) && FindKey(span, Key) != std::string::npos;
}

bool TProfileFile::TryReadInteger(const std::string& Section, const std::string& Key,
                                  std::int32_t& Value) const {
    return ParseInteger(ReadString(Section, Key, std::string()), Value);
}

std::int32_t TProfileFile::ReadInteger(const std::string& Section, const std::string& Key,
                                       std::int32_t Default) const {
    std::int32_t value = Default;
    TryReadInteger(Section, Key, value);
    return value;
}

bool TProfileFile::ReadBool(const std::string& Section, const std::string& Key,
                            bool Default) const {
    std::int32_t value = 0;
    return TryReadInteger(Section, Key, value) ? value != 0 : Default;
}

void TProfileFile::InsertLine(std::size_t At, std::string Line) {
    if (FCrLf) Line += '\r';
    if (At == FLines.size()) FFinalNewline = true;
    FLines.insert(FLines.begin() + static_cast<std::ptrdiff_t>(At), std::move(Line));
}

void TProfileFile::WriteString(const std::string& Section, const std::string& Key,
                               const std::string& Value) {
    const std::string value = Value.substr(0, Value.find_first_of("\r\n"));
    TSpan span{};
    if (!FindSection(Section, span)) {
        // A blank line keeps the new section apart from the one before.
        if (!FLines.empty() && !Trim(Content(FLines.back())).empty())
            InsertLine(FLines.size(), std::string());
        InsertLine(FLines.size(), "[" + Section + "]");
        InsertLine(FLines.size(), Key + "=" + value);
        return;
    }
    const std::size_t line = FindKey(span, Key);
    if (line != std::string::npos) {
        std::string_view key;
        std::size_t equals = 0;
        KeyOf(FLines[line], key, equals);
        // The blanks around the old value stay, so that writing back the
        // value read leaves the line as it was.
        std::string& raw = FLines[line];
        const std::string_view old = Content(raw).substr(equals + 1);
        const std::string_view trimmed = Trim(old);
        const std::size_t before =
            trimmed.empty() ? old.size() : static_cast<std::size_t>(trimmed.data() - old.data());
        const std::size_t after = old.size() - before - trimmed.size();
        raw = raw.substr(0, equals + 1 + before) + value +
              std::string(old.substr(old.size() - after)) + raw.substr(Content(raw).size());
        return;
    }
    // After the section's last key, so comments and blank lines that lead
    // into the next section stay with it.
    std::size_t at = span.Header + 1;
    std::string_view key;
    std::size_t equals = 0;
    for (std::size_t i = span.Header + 1; i < span.End; ++i)
        if (KeyOf(FLines[i], key, equals)) at = i + 1;
    InsertLine(at, Key + "=" + value);
}

void TProfileFile::WriteInteger(const std::string& Section, const std::string& Key,
                                std::int32_t Value) {
    WriteString(Section, Key, std::to_string(Value));
}

void TProfileFile::WriteBool(const std::string& Section, const std::string& Key, bool Value) {
    WriteString(Section, Key, Value ? "1" : "0");
}

} // namespace volmar

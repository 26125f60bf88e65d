// Settings files of "[Section]" and "Key=Value" lines. Everything not
// written through this class (unknown sections, keys, comments, blank lines)
// is kept as it was, so the program can share a file with other tools.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace volmar {

class EProfileFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TProfileFile {
public:
    // A missing file is an empty profile. Raises EProfileFileError "Cannot open file <Path>"
    // (a reason may follow) for anything but a regular file of at most 1 MiB that can be read;
    // a FIFO or device is never waited on or read.
    void Load(const std::string& Path);
    // Replaces the file whole or not at all (a symbolic link's target, when it is one); raises
    // EProfileFileError "Cannot create file <Path>" or "Unable to write to <Path>".
    void Save(const std::string& Path) const;

    // Section and key names compare without regard to case. Blanks (spaces
    // and tabs) around names and values are not part of them.
    bool SectionExists(const std::string& Section) const;
    std::vector<std::string> Keys(const std::string& Section) const;

    std::string ReadString(const std::string& Section, const std::string& Key,
                           const std::string& Default) const;
    // Decimal, or hexadecimal after "$" or "0x"; anything else is Default.
    std::int32_t ReadInteger(const std::string& Section, const std::string& Key,
                             std::int32_t Default) const;
    bool ReadBool(const std::string& Section, const std::string& Key, bool Default) const;
    bool KeyExists(const std::string& Section, const std::string& Key) const;
    // False, leaving Value, when the key is missing or not an integer.
    bool TryReadInteger(const std::string& Section, const std::string& Key,
                        std::int32_t& Value) const;

    // A value is one line: it is cut at its first line break. A key already
    // there keeps its line's blanks.
    void WriteString(const std::string& Section, const std::string& Key, const std::string& Value);
    void WriteInteger(const std::string& Section, const std::string& Key, std::int32_t Value);
    void WriteBool(const std::string& Section, const std::string& Key, bool Value);

    // The file's text as Save writes it.
    std::string Text() const;

private:
    struct TSpan {
        std::size_t Header;  // line of "[Section]"
        std::size_t End;     // one past the section's last line
    };
    bool FindSection(const std::string& Section, TSpan& Span) const;
    // The line of the key within the section, or npos.
    std::size_t FindKey(const TSpan& Span, const std::string& Key) const;
    void InsertLine(std::size_t At, std::string Line);

    // Raw lines without their "\n"; a line from a CR LF file keeps its "\r".
    std::vector<std::string> FLines;
    bool FFinalNewline = true;
    bool FCrLf = false;
};

} // namespace volmar

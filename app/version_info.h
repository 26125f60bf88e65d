// TVersionInfo: reads the version block (app/version_block.h) of a program
// file and offers its fixed numbers and string entries the way a Windows
// version resource would.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace volmar {

// The contents of one block, string entries still keyed by their full path.
struct TVersionRecord {
    std::uint32_t FileVersionMS = 0, FileVersionLS = 0;
    std::uint32_t ProductVersionMS = 0, ProductVersionLS = 0;
    std::uint32_t FlagMask = 0, Flags = 0, FileOS = 0;
    QMap<QString, QByteArray> Values;
};

// Bytes must start at a signature; what follows the block is ignored.
// Anything malformed, truncated or failing its checksum gives nullopt.
std::optional<TVersionRecord> ParseVersionBlock(std::span<const std::uint8_t> Bytes);

// Searches the file for its first well-formed block. Only regular files are
// read, in chunks, and no further than kVersionScanLimit bytes.
inline constexpr std::int64_t kVersionScanLimit = std::int64_t{1} << 30;
std::optional<TVersionRecord> ReadVersionBlock(const QString& FileName);

// "%d.%d.%d.%d": high and low 16 bits of the most significant half, then of
// the least significant.
QString FormatFileVersion(std::uint32_t MostSignificant, std::uint32_t LeastSignificant);
// The text for a target-system code; "Unknown operating system" for any
// code not in the table.
QString FileOSText(std::uint32_t Code);
// "Pre-release", "Private build", "Special build", "Debug", in that order,
// each only when set in both Flags and Mask.
QStringList FileFlagsText(std::uint32_t Flags, std::uint32_t Mask);

class TVersionInfo {
public:
    // Reads the program's own file.
    TVersionInfo();
    explicit TVersionInfo(const QString& FileName);

    QString FileName() const { return FFileName; }
    // Reads the file at once, then fires OnInfoChange.
    void SetFileName(const QString& FileName);

    bool Valid() const { return FRecord.has_value(); }

    // Empty when not Valid.
    QString FileVersion() const;
    QString ProductVersion() const;
    QString FileOS() const;
    QStringList FileFlags() const;
    QString FileFlagsDesc() const;

    // The string entries of the first translation; empty when not Valid,
    // when the entry is missing or when the block has no translation.
    QString StringEntry(const QString& Name) const;
    QString CompanyName() const { return StringEntry(QStringLiteral("CompanyName")); }
    QString FileDescription() const { return StringEntry(QStringLiteral("FileDescription")); }
    QString InternalName() const { return StringEntry(QStringLiteral("InternalName")); }
    QString LegalCopyright() const { return StringEntry(QStringLiteral("LegalCopyright")); }
    QString LegalTrademarks() const { return StringEntry(QStringLiteral("LegalTrademarks")); }
    QString OriginalFilename() const { return StringEntry(QStringLiteral("OriginalFilename")); }
    QString ProductName() const { return StringEntry(QStringLiteral("ProductName")); }
    QString Comments() const { return StringEntry(QStringLiteral("Comments")); }
    QString Author() const { return StringEntry(QStringLiteral("Author")); }

    // The reader's own version.
    QString Version() const { return QStringLiteral("1.01"); }

    // After every read, whether it found a block or not.
    std::function<void(TVersionInfo* Sender, bool Valid)> OnInfoChange;

private:
    void ReadInfo();

    QString FFileName;
    std::optional<TVersionRecord> FRecord;
};

} // namespace volmar

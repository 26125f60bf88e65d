#include "app/version_info.h"

#include "app/version_block.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <functional>

namespace volmar {

TVersionSignature VersionSignature() {
    // Volatile, so the compiler cannot fold the unmasking into a constant
    // that would put a second plain signature into the program file.
    static volatile std::uint8_t mask = kVersionSignatureMask;
    TVersionSignature plain{};
    for (std::size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<std::uint8_t>(kMaskedVersionSignature[i] ^ mask);
    return plain;
}

namespace {

constexpr qint64 kChunkSize = 64 * 1024;

struct TReader {
    std::span<const std::uint8_t> Bytes;
    std::size_t At = 0;
    bool Has(std::size_t Count) const { return Count <= Bytes.size() - At; }
    std::uint16_t U16() {
        const std::uint16_t v = static_cast<std::uint16_t>(Bytes[At] | Bytes[At + 1] << 8);
        At += 2;
        return v;
    }
    std::uint32_t U32() {
        const std::uint32_t lo = U16();
        return lo | static_cast<std::uint32_t>(U16()) << 16;
    }
    QByteArray Take(std::size_t Count) {
        QByteArray out(reinterpret_cast<const char*>(Bytes.data() + At),
                       static_cast<qsizetype>(Count));
        At += Count;
        return out;
    }
};

} // namespace

std::optional<TVersionRecord> ParseVersionBlock(std::span<const std::uint8_t> Bytes) {
    constexpr std::size_t minimum = kVersionHeaderSize + kVersionChecksumSize;
    if (Bytes.size() < minimum) return std::nullopt;
    const TVersionSignature signature = VersionSignature();
    if (!std::equal(signature.begin(), signature.end(), Bytes.begin())) return std::nullopt;

    TReader header{Bytes, kVersionSignatureSize};
    if (header.U16() != kVersionLayout) return std::nullopt;
    const std::size_t count = header.U16();
    const std::size_t size = header.U32();
    if (count > kVersionMaxEntries || size < minimum || size > kVersionBlockMaxSize ||
        size > Bytes.size())
        return std::nullopt;

    const std::span<const std::uint8_t> block = Bytes.first(size);
    const std::size_t bodyEnd = size - kVersionChecksumSize;
    TReader tail{block, bodyEnd};
    if (tail.U32() !=
        VersionCrc32(block.subspan(kVersionSignatureSize, bodyEnd - kVersionSignatureSize)))
        return std::nullopt;

    TVersionRecord record;
    record.FileVersionMS = header.U32();
    record.FileVersionLS = header.U32();
    record.ProductVersionMS = header.U32();
    record.ProductVersionLS = header.U32();
    record.FlagMask = header.U32();
    record.Flags = header.U32();
    record.FileOS = header.U32();

    // The entries must fill the body exactly: a count or length that
    // disagrees with the size means the block is not what it claims.
    TReader body{block.first(bodyEnd), kVersionHeaderSize};
    for (std::size_t i = 0; i < count; ++i) {
        if (!body.Has(4)) return std::nullopt;
        const std::size_t pathSize = body.U16();
        const std::size_t valueSize = body.U16();
        if (pathSize == 0 || !body.Has(pathSize + valueSize)) return std::nullopt;
        const QString path = QString::fromUtf8(body.Take(pathSize));
        QByteArray value = body.Take(valueSize);
        if (!record.Values.contains(path)) record.Values.insert(path, std::move(value));
    }
    if (body.At != bodyEnd) return std::nullopt;
    return record;
}

namespace {

// Reads what may be a block at Offset, leaving the file position as it was.
std::optional<TVersionRecord> ReadCandidate(QFile& File, qint64 Offset) {
    const qint64 resume = File.pos();
    std::optional<TVersionRecord> record;
    if (File.seek(Offset)) {
        const QByteArray bytes = File.read(static_cast<qint64>(kVersionBlockMaxSize));
        record =
            ParseVersionBlock(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                        static_cast<std::size_t>(bytes.size())));
    }
    if (!File.seek(resume)) return std::nullopt;
    return record;
}

} // namespace

std::optional<TVersionRecord> ReadVersionBlock(const QString& FileName) {
    // Devices and pipes may never end; folders have nothing to read.
    if (FileName.isEmpty() || !QFileInfo(FileName).isFile()) return std::nullopt;
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;

    const TVersionSignature signature = VersionSignature();
    const std::boyer_moore_horspool_searcher searcher(signature.begin(), signature.end());
    // The window holds the tail of the previous chunk so that a signature
    // split across the boundary is still found.
    QByteArray window;
    qint64 windowStart = 0;
    while (windowStart + window.size() < kVersionScanLimit) {
        const QByteArray chunk = file.read(kChunkSize);
        if (chunk.isEmpty()) break;
        window += chunk;
        const auto* begin = reinterpret_cast<const std::uint8_t*>(window.constData());
        const auto* end = begin + window.size();
        for (auto hit = std::search(begin, end, searcher); hit != end;
             hit = std::search(hit + 1, end, searcher)) {
            if (auto record = ReadCandidate(file, windowStart + (hit - begin))) return record;
        }
        const qsizetype keep =
            std::min<qsizetype>(window.size(), static_cast<qsizetype>(kVersionSignatureSize) - 1);
        windowStart += window.size() - keep;
        window = window.right(keep);
    }
    return std::nullopt;
}

QString FormatFileVersion(std::uint32_t MostSignificant, std::uint32_t LeastSignificant) {
    return QStringLiteral("%1.%2.%3.%4")
        .arg(MostSignificant >> 16)
        .arg(MostSignificant & 0xFFFF)
        .arg(LeastSignificant >> 16)
        .arg(LeastSignificant & 0xFFFF);
}

QString FileOSText(std::uint32_t Code) {
    switch (Code) {
    case 0x00001: return QStringLiteral("Designed for 16-bit Windows");
    case 0x00002: return QStringLiteral("Designed for 16-bit PM");
    case 0x00003: return QStringLiteral("Designed for 32-bit PM");
    case 0x00004: return QStringLiteral("Designed for 32-bit Windows");
    case 0x10000: return QStringLiteral("Designed for MSDOS");
    case 0x10001: return QStringLiteral("Designed for 16-bit Windows, running on MSDOS");
    case 0x10004: return QStringLiteral("Designed for Win32 API, running on MSDOS");
    case 0x20000: return QStringLiteral("Designed for 16-bit OS/2");
    case 0x20002: return QStringLiteral("Designed for 16-bit PM, running on 16-bit OS/2");
    case 0x30000: return QStringLiteral("Designed for 32-bit OS/2");
    case 0x30003: return QStringLiteral("Designed for 32-bit PM, running on 32-bit OS/2");
    case 0x40000: return QStringLiteral("Designed for Windows NT");
    case 0x40004: return QStringLiteral("Designed for Win32 API, running on Windows NT");
    default: return QStringLiteral("Unknown operating system");
    }
}

QStringList FileFlagsText(std::uint32_t Flags, std::uint32_t Mask) {
    static const struct {
        std::uint32_t Bit;
        const char* Text;
    } kFlags[] = {
        {0x02, "Pre-release"}, {0x08, "Private build"}, {0x20, "Special build"}, {0x01, "Debug"}};
    QStringList out;
    for (const auto& f : kFlags)
        if (Flags & Mask & f.Bit) out << QString::fromLatin1(f.Text);
    return out;
}

TVersionInfo::TVersionInfo() : TVersionInfo(QCoreApplication::applicationFilePath()) {}

TVersionInfo::TVersionInfo(const QString& FileName) : FFileName(FileName) {
    ReadInfo();
}

void TVersionInfo::SetFileName(const QString& FileName) {
    FFileName = FileName;
    ReadInfo();
}

void TVersionInfo::ReadInfo() {
    FRecord.reset();
    try {
        FRecord = ReadVersionBlock(FFileName);
    } catch (...) {
        // Out of memory or the like: the file simply has no readable version.
        FRecord.reset();
    }
    if (OnInfoChange) OnInfoChange(this, Valid());
}

QString TVersionInfo::FileVersion() const {
    return FRecord ? FormatFileVersion(FRecord->FileVersionMS, FRecord->FileVersionLS) : QString();
}

QString TVersionInfo::ProductVersion() const {
    return FRecord ? FormatFileVersion(FRecord->ProductVersionMS, FRecord->ProductVersionLS)
                   : QString();
}

QString TVersionInfo::FileOS() const {
    return FRecord ? FileOSText(FRecord->FileOS) : QString();
}

QStringList TVersionInfo::FileFlags() const {
    return FRecord ? FileFlagsText(FRecord->Flags, FRecord->FlagMask) : QStringList();
}

QString TVersionInfo::FileFlagsDesc() const {
    return FileFlags().join(QStringLiteral(", "));
}

QString TVersionInfo::StringEntry(const QString& Name) const {
    if (!FRecord) return {};
    const QByteArray translation = FRecord->Values.value(QString::fromLatin1(
        kTranslationPath.data(), static_cast<qsizetype>(kTranslationPath.size())));
    if (translation.size() < 4) return {};
    const auto byte = [&](int I) { return static_cast<std::uint8_t>(translation[I]); };
    const unsigned language = byte(0) | byte(1) << 8;
    const unsigned codePage = byte(2) | byte(3) << 8;
    const QString path = QStringLiteral("\\StringFileInfo\\%1%2\\%3")
                             .arg(language, 4, 16, QLatin1Char('0'))
                             .arg(codePage, 4, 16, QLatin1Char('0'))
                             .arg(Name);
    return QString::fromUtf8(FRecord->Values.value(path));
}

} // namespace volmar

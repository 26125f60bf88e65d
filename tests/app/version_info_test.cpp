// The version block and its reader: the block this very test program
// carries, blocks written into files of our own, and files that are not
// what they seem.
#include "app/version_block.h"
#include "app/version_info.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <vector>

namespace volmar::testing {
namespace {

QByteArray ToBytes(std::span<const std::uint8_t> Bytes) {
    return QByteArray(reinterpret_cast<const char*>(Bytes.data()),
                      static_cast<qsizetype>(Bytes.size()));
}

std::span<const std::uint8_t> AsSpan(const QByteArray& Bytes) {
    return {reinterpret_cast<const std::uint8_t*>(Bytes.constData()),
            static_cast<std::size_t>(Bytes.size())};
}

QByteArray Signature() {
    return ToBytes(VersionSignature());
}

qsizetype CountSignatures(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray all = file.readAll();
    const QByteArray signature = Signature();
    qsizetype count = 0;
    for (qsizetype at = all.indexOf(signature); at >= 0; at = all.indexOf(signature, at + 1))
        ++count;
    return count;
}

constexpr TVersionString kStrings[] = {
    {"CompanyName", "Acme Gaming"},
    {"FileDescription", "Test description"},
    {"InternalName", "internal"},
    {"LegalCopyright", "(C) Acme"},
    {"LegalTrademarks", "Acme\xE2\x84\xA2"},
    {"OriginalFilename", "original"},
    {"ProductName", "Product"},
    {"Comments", "A comment"},
    {"Author", "Jane Doe"},
};

constexpr TVersionBlockData kData{
    .FileVersion = {2, 17, 65535, 3},
    .ProductVersion = {9, 8, 7, 6},
    .FlagMask = 0x3F,
    .Flags = 0x2A,
    .FileOS = 0x30003,
    .Strings = kStrings,
};

constexpr TVersionBlockData kNoTranslation{
    .FileVersion = {4, 3, 2, 1}, .HasTranslation = false, .Strings = kStrings};

constexpr TVersionBlockData kOtherTranslation{
    .FileVersion = {1, 1, 1, 1}, .Language = 0x0407, .CodePage = 0x04B0, .Strings = kStrings};

// Built at run time with the run-time signature, so this program file gains
// no second copy of it.
template <const TVersionBlockData& Data> QByteArray Block() {
    return ToBytes(BuildVersionBlock<VersionBlockSize(Data)>(Data, VersionSignature()));
}

void PutU16(QByteArray& B, qsizetype At, std::uint16_t V) {
    B[At] = static_cast<char>(V & 0xFF);
    B[At + 1] = static_cast<char>(V >> 8);
}

void PutU32(QByteArray& B, qsizetype At, std::uint32_t V) {
    PutU16(B, At, static_cast<std::uint16_t>(V & 0xFFFF));
    PutU16(B, At + 2, static_cast<std::uint16_t>(V >> 16));
}

// A fresh checksum after a change, so that the reader's other checks are
// the ones under test.
void Reseal(QByteArray& B, qsizetype Size) {
    const auto crc = VersionCrc32(AsSpan(B).subspan(
        kVersionSignatureSize, static_cast<std::size_t>(Size) - 4 - kVersionSignatureSize));
    PutU32(B, Size - 4, crc);
}

bool Parses(const QByteArray& B) {
    return ParseVersionBlock(AsSpan(B)).has_value();
}

class VersionFileTest : public ::testing::Test {
protected:
    QString Write(const QString& Name, const QByteArray& Bytes) {
        const QString path = dir.filePath(Name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(Bytes);
        return path;
    }

    static QByteArray Noise(qsizetype Size, unsigned Seed) {
        std::mt19937 random(Seed);
        QByteArray out(Size, '\0');
        for (char& c : out)
            c = static_cast<char>(random() & 0xFF);
        return out;
    }

    QTemporaryDir dir;
};

TEST(VersionInfoOwnFile, TheTestProgramCarriesTheProjectVersion) {
    TVersionInfo info;
    EXPECT_EQ(info.FileName(), QCoreApplication::applicationFilePath());
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.FileVersion(), QStringLiteral(VOLMAR_EXPECTED_VERSION));
    EXPECT_EQ(info.ProductVersion(), QStringLiteral(VOLMAR_EXPECTED_VERSION));
    EXPECT_EQ(info.FileOS(), QStringLiteral("Designed for Win32 API, running on Windows NT"));
    EXPECT_EQ(info.FileFlags(), FileFlagsText(VOLMAR_EXPECTED_FLAGS, kVersionFlagMask));
    EXPECT_EQ(info.Version(), QStringLiteral("1.01"));
}

TEST(VersionInfoOwnFile, StringEntriesOfTheProgram) {
    TVersionInfo info;
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.FileDescription(), QStringLiteral("Volmar Simulator"));
    EXPECT_EQ(info.ProductName(), QStringLiteral("Volmar Simulator"));
    EXPECT_EQ(info.InternalName(), QStringLiteral("volmarsim"));
    EXPECT_EQ(info.OriginalFilename(), QStringLiteral("volmarsim"));
    EXPECT_EQ(info.StringEntry(QStringLiteral("FileVersion")),
              QStringLiteral(VOLMAR_EXPECTED_VERSION));
    EXPECT_FALSE(info.CompanyName().isEmpty());
    EXPECT_FALSE(info.LegalCopyright().isEmpty());
    EXPECT_FALSE(info.Comments().isEmpty());
    EXPECT_FALSE(info.Author().isEmpty());
    EXPECT_TRUE(info.LegalTrademarks().isEmpty()) << "the program has no trademark entry";
}

TEST(VersionInfoOwnFile, TheSignatureOccursOnlyInTheBlock) {
    const QString self = QCoreApplication::applicationFilePath();
    EXPECT_EQ(CountSignatures(self), 1);
    QFile file(self);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray all = file.readAll();
    const QByteArray embedded = ToBytes(EmbeddedVersionBlock());
    EXPECT_EQ(all.indexOf(embedded), all.indexOf(Signature())) << "the file holds the block whole";
}

TEST(VersionInfoOwnFile, TheReaderCodeAloneIsNotABlock) {
    // The library holds the reader and its masked signature but not the
    // block, which only programs get.
    const QString archive = QStringLiteral(VOLMAR_READER_ARCHIVE);
    QFile file(archive);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    ASSERT_TRUE(file.readAll().contains("ReadVersionBlock"));
    EXPECT_EQ(CountSignatures(archive), 0);
    EXPECT_FALSE(TVersionInfo(archive).Valid());
}

TEST(VersionFormatting, FourPartVersionFromTwoHalves) {
    EXPECT_EQ(FormatFileVersion(0x00010002, 0x00030004), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(FormatFileVersion(0xFFFF0000, 0x0000FFFF), QStringLiteral("65535.0.0.65535"));
    EXPECT_EQ(FormatFileVersion(0, 0), QStringLiteral("0.0.0.0"));
}

TEST(VersionFormatting, TargetSystemTexts) {
    const std::pair<std::uint32_t, const char*> table[] = {
        {0x00001, "Designed for 16-bit Windows"},
        {0x00002, "Designed for 16-bit PM"},
        {0x00003, "Designed for 32-bit PM"},
        {0x00004, "Designed for 32-bit Windows"},
        {0x10000, "Designed for MSDOS"},
        {0x10001, "Designed for 16-bit Windows, running on MSDOS"},
        {0x10004, "Designed for Win32 API, running on MSDOS"},
        {0x20000, "Designed for 16-bit OS/2"},
        {0x20002, "Designed for 16-bit PM, running on 16-bit OS/2"},
        {0x30000, "Designed for 32-bit OS/2"},
        {0x30003, "Designed for 32-bit PM, running on 32-bit OS/2"},
        {0x40000, "Designed for Windows NT"},
        {0x40004, "Designed for Win32 API, running on Windows NT"},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(FileOSText(code), QString::fromLatin1(text)) << std::hex << code;
    for (std::uint32_t code : {0x0u, 0x5u, 0x40001u, 0x50000u, 0xFFFFFFFFu})
        EXPECT_EQ(FileOSText(code), QStringLiteral("Unknown operating system")) << std::hex << code;
}

TEST(VersionFormatting, FlagsInOrderWhenSetAndMasked) {
    const QStringList all = {QStringLiteral("Pre-release"), QStringLiteral("Private build"),
                             QStringLiteral("Special build"), QStringLiteral("Debug")};
    EXPECT_EQ(FileFlagsText(0x3F, 0x3F), all);
    EXPECT_EQ(FileFlagsText(0x2B, 0x3F), all) << "order is fixed, not by bit value";
    EXPECT_TRUE(FileFlagsText(0, 0x3F).isEmpty());
    EXPECT_TRUE(FileFlagsText(0x3F, 0).isEmpty()) << "flags outside the mask do not count";
    EXPECT_TRUE(FileFlagsText(0x14, 0x3F).isEmpty()) << "patched and info-inferred are not shown";
    EXPECT_EQ(FileFlagsText(0x01, 0x3F), QStringList{QStringLiteral("Debug")});
    EXPECT_EQ(FileFlagsText(0x22, 0x3F),
              (QStringList{QStringLiteral("Pre-release"), QStringLiteral("Special build")}));
    EXPECT_EQ(FileFlagsText(0x3F, 0x09),
              (QStringList{QStringLiteral("Private build"), QStringLiteral("Debug")}));
    EXPECT_EQ(FileFlagsText(0x08, 0x0A), QStringList{QStringLiteral("Private build")});
}

TEST(VersionFormatting, ChecksumIsTheStandardCrc32) {
    const char check[] = "123456789";
    EXPECT_EQ(VersionCrc32(std::span(reinterpret_cast<const std::uint8_t*>(check), 9)),
              0xCBF43926u);
}

TEST_F(VersionFileTest, ABlockAmongOtherBytesIsReadWhole) {
    TVersionInfo info(
        Write(QStringLiteral("prog"), Noise(3000, 1) + Block<kData>() + Noise(500, 2)));
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.FileVersion(), QStringLiteral("2.17.65535.3"));
    EXPECT_EQ(info.ProductVersion(), QStringLiteral("9.8.7.6"));
    EXPECT_EQ(info.FileOS(), QStringLiteral("Designed for 32-bit PM, running on 32-bit OS/2"));
    EXPECT_EQ(info.FileFlagsDesc(), QStringLiteral("Pre-release, Private build, Special build"));
    EXPECT_EQ(info.CompanyName(), QStringLiteral("Acme Gaming"));
    EXPECT_EQ(info.FileDescription(), QStringLiteral("Test description"));
    EXPECT_EQ(info.InternalName(), QStringLiteral("internal"));
    EXPECT_EQ(info.LegalCopyright(), QStringLiteral("(C) Acme"));
    EXPECT_EQ(info.LegalTrademarks(), QStringLiteral("Acme\u2122"));
    EXPECT_EQ(info.OriginalFilename(), QStringLiteral("original"));
    EXPECT_EQ(info.ProductName(), QStringLiteral("Product"));
    EXPECT_EQ(info.Comments(), QStringLiteral("A comment"));
    EXPECT_EQ(info.Author(), QStringLiteral("Jane Doe"));
    EXPECT_TRUE(info.StringEntry(QStringLiteral("NoSuchEntry")).isEmpty());
}

TEST_F(VersionFileTest, StringsComeFromTheFirstTranslationsTable) {
    const TVersionInfo other(Write(QStringLiteral("de"), Block<kOtherTranslation>()));
    ASSERT_TRUE(other.Valid());
    EXPECT_EQ(other.CompanyName(), QStringLiteral("Acme Gaming"));
    const auto record = ParseVersionBlock(AsSpan(Block<kOtherTranslation>()));
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->Values.contains(QStringLiteral("\\StringFileInfo\\040704b0\\CompanyName")));

    // Without a translation there is no table to look in; the numbers stand.
    const TVersionInfo bare(Write(QStringLiteral("bare"), Block<kNoTranslation>()));
    ASSERT_TRUE(bare.Valid());
    EXPECT_EQ(bare.FileVersion(), QStringLiteral("4.3.2.1"));
    EXPECT_TRUE(bare.CompanyName().isEmpty());
}

TEST_F(VersionFileTest, FoundWhereverItLiesInTheFile) {
    const QByteArray block = Block<kData>();
    // Chunks are 64 KiB: the signature split across the first boundary, the
    // block split after its signature, at the very start and the very end.
    for (qsizetype before : {qsizetype{0}, qsizetype{65536 - 7}, qsizetype{65536 - 16},
                             qsizetype{65536 - 30}, qsizetype{200000}}) {
        const QString path = Write(QStringLiteral("at%1").arg(before), Noise(before, 3) + block);
        EXPECT_EQ(TVersionInfo(path).FileVersion(), QStringLiteral("2.17.65535.3")) << before;
    }
}

TEST_F(VersionFileTest, FalseSignaturesAreSkipped) {
    // Bare signatures and a damaged block come first; the good block after.
    QByteArray damaged = Block<kOtherTranslation>();
    damaged[40] = static_cast<char>(damaged[40] ^ 1);
    QByteArray bytes;
    for (int i = 0; i < 50; ++i)
        bytes += Signature() + Noise(i, 4);
    bytes += damaged + Block<kData>();
    EXPECT_EQ(TVersionInfo(Write(QStringLiteral("decoys"), bytes)).FileVersion(),
              QStringLiteral("2.17.65535.3"));
}

TEST_F(VersionFileTest, OnInfoChangeFiresAfterEveryRead) {
    const QString good = Write(QStringLiteral("good"), Block<kData>());
    const QString bad = Write(QStringLiteral("bad"), Noise(1000, 5));
    TVersionInfo info(bad);
    std::vector<bool> reports;
    info.OnInfoChange = [&](TVersionInfo* Sender, bool Valid) {
        EXPECT_EQ(Sender, &info);
        EXPECT_EQ(Sender->Valid(), Valid);
        reports.push_back(Valid);
    };
    info.SetFileName(good);
    EXPECT_EQ(info.FileName(), good);
    info.SetFileName(bad);
    info.SetFileName(dir.filePath(QStringLiteral("missing")));
    info.SetFileName(good);
    EXPECT_EQ(reports, (std::vector<bool>{true, false, false, true}));
}

TEST_F(VersionFileTest, WithoutABlockEverythingIsEmpty) {
    TVersionInfo info(Write(QStringLiteral("good"), Block<kData>()));
    ASSERT_TRUE(info.Valid());
    info.SetFileName(Write(QStringLiteral("plain"), Noise(100000, 6)));
    EXPECT_FALSE(info.Valid());
    for (const QString& s :
         {info.FileVersion(), info.ProductVersion(), info.FileOS(), info.FileFlagsDesc(),
          info.CompanyName(), info.FileDescription(), info.InternalName(), info.LegalCopyright(),
          info.LegalTrademarks(), info.OriginalFilename(), info.ProductName(), info.Comments(),
          info.Author()})
        EXPECT_TRUE(s.isEmpty()) << s.toStdString();
    EXPECT_TRUE(info.FileFlags().isEmpty());
}

TEST_F(VersionFileTest, FilesThatAreNotProgramsAreNotValid) {
    EXPECT_FALSE(TVersionInfo(Write(QStringLiteral("empty"), {})).Valid());
    EXPECT_FALSE(TVersionInfo(dir.filePath(QStringLiteral("missing"))).Valid());
    EXPECT_FALSE(TVersionInfo(dir.path()).Valid());
    EXPECT_FALSE(TVersionInfo(QString()).Valid());
    for (unsigned seed = 10; seed < 15; ++seed)
        EXPECT_FALSE(TVersionInfo(Write(QStringLiteral("noise"), Noise(70000, seed))).Valid());

    // A pipe never ends and is never read.
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(TVersionInfo(fifo).Valid());

    // A link to a program is read like the program.
    const QString target = Write(QStringLiteral("target"), Block<kData>());
    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(target, link));
    EXPECT_TRUE(TVersionInfo(link).Valid());
}

TEST_F(VersionFileTest, TruncatedBlocksAreRejected) {
    const QByteArray block = Block<kData>();
    ASSERT_TRUE(Parses(block));
    for (qsizetype size = 0; size < block.size(); ++size)
        EXPECT_FALSE(Parses(block.left(size))) << size;
    EXPECT_FALSE(TVersionInfo(Write(QStringLiteral("cut"), block.left(block.size() - 1))).Valid());
    EXPECT_FALSE(TVersionInfo(Write(QStringLiteral("half"), block.left(60))).Valid());
}

TEST_F(VersionFileTest, DamagedHeadersAreRejected) {
    const QByteArray block = Block<kData>();
    const auto size = static_cast<std::uint32_t>(block.size());
    const QByteArray padded = block + QByteArray(8192, '\0');

    // Size fields that disagree with the entries, even with a good checksum.
    for (std::uint32_t claimed : {0u, 1u, 55u, size - 1, size + 4, 4097u, 0xFFFFFFFFu}) {
        QByteArray b = padded;
        PutU32(b, 20, claimed);
        if (claimed >= 56 && claimed <= 4096) Reseal(b, claimed);
        EXPECT_FALSE(Parses(b)) << claimed;
    }
    // A wrong entry count, a later layout.
    for (std::uint16_t count : {std::uint16_t{0}, std::uint16_t{9}, std::uint16_t{11},
                                std::uint16_t{65}, std::uint16_t{0xFFFF}}) {
        QByteArray b = block;
        PutU16(b, 18, count);
        Reseal(b, b.size());
        EXPECT_FALSE(Parses(b)) << count;
    }
    QByteArray layout = block;
    PutU16(layout, 16, kVersionLayout + 1);
    Reseal(layout, layout.size());
    EXPECT_FALSE(Parses(layout));
    QByteArray good = block;
    Reseal(good, good.size());
    EXPECT_TRUE(Parses(good)) << "resealing alone keeps a block good";
}

TEST_F(VersionFileTest, DamagedEntriesAreRejected) {
    const QByteArray block = Block<kData>();
    const qsizetype first = kVersionHeaderSize; // the translation entry
    for (std::uint16_t pathSize :
         {std::uint16_t{0}, std::uint16_t{23}, std::uint16_t{25}, std::uint16_t{0xFFFF}}) {
        QByteArray b = block;
        PutU16(b, first, pathSize);
        Reseal(b, b.size());
        EXPECT_FALSE(Parses(b)) << pathSize;
    }
    QByteArray value = block;
    PutU16(value, first + 2, 0xFFFF);
    Reseal(value, value.size());
    EXPECT_FALSE(Parses(value));

    // Every single flipped bit past the signature fails the checksum.
    for (qsizetype at = kVersionSignatureSize; at < block.size(); ++at) {
        QByteArray b = block;
        b[at] = static_cast<char>(b[at] ^ 0x10);
        EXPECT_FALSE(Parses(b)) << at;
    }
}

TEST_F(VersionFileTest, HostileBytesAfterASignatureNeverCrash) {
    // Signatures followed by noise of every kind, parsed straight and read
    // from a file; none is a block.
    for (unsigned seed = 0; seed < 300; ++seed) {
        QByteArray b = Signature() + Noise(static_cast<qsizetype>(seed * 7 % 200), seed);
        if (b.size() >= 24) {
            PutU16(b, 16, kVersionLayout);
            PutU32(b, 20, static_cast<std::uint32_t>(std::min<qsizetype>(b.size(), 60 + seed)));
        }
        EXPECT_FALSE(Parses(b)) << seed;
    }
    QByteArray file;
    for (unsigned seed = 0; seed < 100; ++seed)
        file += Signature() + Noise(seed, seed + 1000);
    EXPECT_FALSE(TVersionInfo(Write(QStringLiteral("hostile"), file)).Valid());
}

} // namespace
} // namespace volmar::testing

// The version block: Linux program files carry no version resource, so the
// build embeds one of its own as a run of bytes that TVersionInfo finds by
// reading the file. The numbers come from the CMake project version.
//
// Layout, little-endian:
//     0  16 bytes  signature
//    16  u16       layout (kVersionLayout)
//    18  u16       number of entries
//    20  u32       size of the whole block, signature and checksum included
//    24  u32 x 2   file version, most then least significant half
//    32  u32 x 2   product version, the same way
//    40  u32       flag mask
//    44  u32       flags
//    48  u32       target-system code
//    52  entries   u16 path length, u16 value length, path, value
//  end-4 u32       CRC-32 of the bytes from offset 16 up to the checksum
//
// Entry paths are those of a Windows version resource: the translation under
// "\VarFileInfo\Translation" (u16 language, u16 code page) and each string
// under "\StringFileInfo\040904e4\Name", its value UTF-8.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace volmar {

inline constexpr std::size_t kVersionSignatureSize = 16;
using TVersionSignature = std::array<std::uint8_t, kVersionSignatureSize>;

// The signature is kept here with every byte XOR'd with kVersionSignatureMask:
// only the embedded block holds it plainly, so a search of the program file
// cannot stop at the reader's own pattern.
inline constexpr std::uint8_t kVersionSignatureMask = 0xA5;
// Plainly: 7Fh "VOLMAR-VERSION" 1Ah.
inline constexpr TVersionSignature kMaskedVersionSignature = {
    0xDA, 0xF3, 0xEA, 0xE9, 0xE8, 0xE4, 0xF7, 0x88, 0xF3, 0xE0, 0xF7, 0xF6, 0xEC, 0xEA, 0xEB, 0xBF};

// The plain signature, unmasked at run time through a value the compiler
// cannot see, so no copy of it lands in the reader's code.
TVersionSignature VersionSignature();

inline constexpr std::uint16_t kVersionLayout = 1;
inline constexpr std::size_t kVersionHeaderSize = 52;
inline constexpr std::size_t kVersionChecksumSize = 4;
// Bounds a reader trusts; anything larger is not a block of ours.
inline constexpr std::size_t kVersionBlockMaxSize = 4096;
inline constexpr std::size_t kVersionMaxEntries = 64;

// Target system "Win32 API, running on Windows NT", the code that tools reading
// version resources expect from a 32-bit-or-later program.
inline constexpr std::uint32_t kVersionFileOS = 0x40004;
inline constexpr std::uint16_t kVersionLanguage = 0x0409;
inline constexpr std::uint16_t kVersionCodePage = 0x04E4;
// Pre-release, private build, special build and debug.
inline constexpr std::uint32_t kVersionFlagMask = 0x3F;

struct TVersionString {
    std::string_view Name, Value;
};

// What goes into a block. Strings are stored under the translation's table.
struct TVersionBlockData {
    std::array<std::uint16_t, 4> FileVersion{}, ProductVersion{};
    std::uint32_t FlagMask = kVersionFlagMask, Flags = 0, FileOS = kVersionFileOS;
    bool HasTranslation = true;
    std::uint16_t Language = kVersionLanguage, CodePage = kVersionCodePage;
    std::span<const TVersionString> Strings;
};

// "\StringFileInfo\" and the table name "040904e4" with a trailing backslash.
inline constexpr std::string_view kStringFileInfo = "\\StringFileInfo\\";
inline constexpr std::string_view kTranslationPath = "\\VarFileInfo\\Translation";
inline constexpr std::size_t kTableNameSize = 9;

constexpr std::size_t VersionBlockSize(const TVersionBlockData& Data) {
    std::size_t size = kVersionHeaderSize + kVersionChecksumSize;
    if (Data.HasTranslation) size += 4 + kTranslationPath.size() + 4;
    for (const TVersionString& s : Data.Strings)
        size += 4 + kStringFileInfo.size() + kTableNameSize + s.Name.size() + s.Value.size();
    return size;
}

constexpr std::uint32_t VersionCrc32(std::span<const std::uint8_t> Bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t b : Bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

namespace version_detail {

template <std::size_t N> struct TWriter {
    std::array<std::uint8_t, N>& Out;
    std::size_t At = 0;
    constexpr void Byte(std::uint8_t B) { Out[At++] = B; }
    constexpr void U16(std::uint32_t V) {
        Byte(static_cast<std::uint8_t>(V));
        Byte(static_cast<std::uint8_t>(V >> 8));
    }
    constexpr void U32(std::uint32_t V) {
        U16(V & 0xFFFF);
        U16(V >> 16);
    }
    constexpr void Text(std::string_view S) {
        for (char c : S)
            Byte(static_cast<std::uint8_t>(c));
    }
    constexpr void Hex4(std::uint16_t V) {
        constexpr std::string_view digits = "0123456789abcdef";
        for (int shift = 12; shift >= 0; shift -= 4)
            Byte(digits[(V >> shift) & 0xF]);
    }
};

} // namespace version_detail

// Serialises Data into a block of exactly N = VersionBlockSize(Data) bytes,
// at compile time for the embedded block, at run time in tests.
template <std::size_t N>
constexpr std::array<std::uint8_t, N> BuildVersionBlock(const TVersionBlockData& Data,
                                                        const TVersionSignature& Signature) {
    std::array<std::uint8_t, N> out{};
    version_detail::TWriter<N> w{out};
    for (std::uint8_t b : Signature)
        w.Byte(b);
    w.U16(kVersionLayout);
    w.U16(static_cast<std::uint16_t>(Data.Strings.size() + (Data.HasTranslation ? 1 : 0)));
    w.U32(static_cast<std::uint32_t>(N));
    const auto half = [](std::uint16_t Hi, std::uint16_t Lo) {
        return static_cast<std::uint32_t>(Hi) << 16 | Lo;
    };
    w.U32(half(Data.FileVersion[0], Data.FileVersion[1]));
    w.U32(half(Data.FileVersion[2], Data.FileVersion[3]));
    w.U32(half(Data.ProductVersion[0], Data.ProductVersion[1]));
    w.U32(half(Data.ProductVersion[2], Data.ProductVersion[3]));
    w.U32(Data.FlagMask);
    w.U32(Data.Flags);
    w.U32(Data.FileOS);
    if (Data.HasTranslation) {
        w.U16(static_cast<std::uint16_t>(kTranslationPath.size()));
        w.U16(4);
        w.Text(kTranslationPath);
        w.U16(Data.Language);
        w.U16(Data.CodePage);
    }
    for (const TVersionString& s : Data.Strings) {
        w.U16(static_cast<std::uint16_t>(kStringFileInfo.size() + kTableNameSize + s.Name.size()));
        w.U16(static_cast<std::uint16_t>(s.Value.size()));
        w.Text(kStringFileInfo);
        w.Hex4(Data.Language);
        w.Hex4(Data.CodePage);
        w.Byte('\\');
        w.Text(s.Name);
        w.Text(s.Value);
    }
    const std::size_t body = w.At;
    w.U32(VersionCrc32(std::span<const std::uint8_t>(out).subspan(kVersionSignatureSize,
                                                                  body - kVersionSignatureSize)));
    return out;
}

// The block this program file carries. Defined in the source the build
// generates from the project version; every program linking volmar_app gets it.
std::span<const std::uint8_t> EmbeddedVersionBlock();

} // namespace volmar

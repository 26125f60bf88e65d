#include "interpret/counters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/file_fixtures.h"

namespace volmar {
namespace {

namespace fs = std::filesystem;

struct CountersFileTest : ::testing::Test {
    const test::TScratchFolder scratch;
    const fs::path& dir = scratch.Path();
    std::string file = (dir / "COUNTERS.DAT").string();
    void WriteBytes(const std::vector<unsigned char>& bytes) {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<unsigned char> ReadBytes() {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
};

std::vector<unsigned char> Pattern(std::size_t n) {
    std::vector<unsigned char> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    return bytes;
}

std::int32_t LittleEndianAt(const std::vector<unsigned char>& b, std::size_t at) {
    return static_cast<std::int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                     (std::uint32_t{b[at + 3]} << 24));
}

TEST_F(CountersFileTest, MissingFileLoadsZeros) {
    TCounters c;
    std::memset(&c, 0x5A, sizeof c);
    LoadCounters(c, file);
    const TCounters zero{};
    EXPECT_EQ(std::memcmp(&c, &zero, sizeof c), 0);
}

TEST_F(CountersFileTest, ShortFileLoadsTheCountsOnly) {
    const auto bytes = Pattern(1024);
    WriteBytes(bytes);
    TCounters c;
    LoadCounters(c, file);
    EXPECT_EQ(c.Codes[0].Messages, LittleEndianAt(bytes, 0));
    EXPECT_EQ(c.Codes[127].Retries, LittleEndianAt(bytes, 1020));
    EXPECT_EQ(c.In, 0);
    EXPECT_EQ(c.CreditsTaken, 0);
}

TEST_F(CountersFileTest, LongFileIsCutAndRoundTripsByteForByte) {
    const auto bytes = Pattern(5000);
    WriteBytes(bytes);
    TCounters c;
    LoadCounters(c, file);
    EXPECT_EQ(c.In, LittleEndianAt(bytes, 1024));
    EXPECT_EQ(c.CreditsTaken, LittleEndianAt(bytes, 1060));
    SaveCounters(c, file);
    const auto saved = ReadBytes();
    ASSERT_EQ(saved.size(), 1064u);
    EXPECT_TRUE(std::equal(saved.begin(), saved.end(), bytes.begin()));
}

TEST_F(CountersFileTest, FieldsLandAtTheirOffsets) {
    TCounters c{};
    c.Codes[0x26].Messages = 1;
    c.Codes[0x26].Retries = -2;
    c.In = 100;
    c.Stakes = 0x01020304;
    c.CreditsTaken = -1;
    SaveCounters(c, file);
    const auto b = ReadBytes();
    ASSERT_EQ(b.size(), 1064u);
    EXPECT_EQ(LittleEndianAt(b, 8 * 0x26), 1);
    EXPECT_EQ(LittleEndianAt(b, 8 * 0x26 + 4), -2);
    EXPECT_EQ(LittleEndianAt(b, 1024), 100);
    EXPECT_EQ(b[1036], 0x04);
    EXPECT_EQ(b[1039], 0x01);
    EXPECT_EQ(LittleEndianAt(b, 1060), -1);
}

TEST_F(CountersFileTest, SpecialFilesRaiseWithoutBeingWaitedOnOrRead) {
    const test::TFifo fifo(file);
    TCounters c;
    for (const std::string& special : {file, std::string("/dev/zero"), dir.string()}) {
        try {
            LoadCounters(c, special);
            ADD_FAILURE() << special << " was read";
        } catch (const ECountersFileError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot open file " + special, 0), 0u);
        }
    }
}

TEST_F(CountersFileTest, SaveIntoAMissingFolderRaises) {
    const std::string missing = (dir / "gone" / "COUNTERS.DAT").string();
    try {
        SaveCounters(TCounters{}, missing);
        FAIL() << "no error raised";
    } catch (const ECountersFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing);
    }
}

TEST_F(CountersFileTest, FailedSaveKeepsTheOldFileAndRaises) {
    // A name so long that no temporary can be named beside it, whatever the
    // permissions.
    file = (dir / std::string(250, 'C')).string();
    WriteBytes(Pattern(1064));
    EXPECT_EQ(test::ErrorUnderLimit<ECountersFileError>(RLIMIT_FSIZE, RLIM_INFINITY, [&] {
                  SaveCounters(TCounters{}, file);
              }),
              "Cannot create file " + file);
    EXPECT_EQ(ReadBytes(), Pattern(1064));
}

TEST_F(CountersFileTest, FullDiskKeepsTheOldFileAndRaises) {
    WriteBytes(Pattern(1064));
    // A file size limit below the record makes the write fail as a full disk would.
    EXPECT_EQ(test::ErrorUnderLimit<ECountersFileError>(RLIMIT_FSIZE, 512, [&] {
                  SaveCounters(TCounters{}, file);
              }),
              "Unable to write to " + file);
    EXPECT_EQ(ReadBytes(), Pattern(1064));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(CountersFileTest, FailedWriteKeepsTheOldFileAndRaises) {
    // The save fails after its temporary file exists: the target is a
    // folder, so the rename over it fails.
    fs::create_directories(dir / "target");
    fs::path keep = dir / "target" / "inside";
    std::ofstream(keep) << "x";
    const std::string target = (dir / "target").string();
    TCounters c{};
    try {
        SaveCounters(c, target);
        FAIL() << "no error raised";
    } catch (const ECountersFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + target);
    }
    EXPECT_TRUE(fs::exists(keep));
    int leftovers = 0;
    for (const auto& entry : fs::directory_iterator(dir)) leftovers += entry.path() != target;
    EXPECT_EQ(leftovers, 0) << "the temporary file is removed";
}

TEST(MeterTotal, IndexOneToTen) {
    TCounters c{};
    EXPECT_EQ(MeterTotal(c, 1), &c.In);
    EXPECT_EQ(MeterTotal(c, 10), &c.CreditsTaken);
    EXPECT_EQ(MeterTotal(c, 0), nullptr);
    EXPECT_EQ(MeterTotal(c, 11), nullptr);
    EXPECT_EQ(MeterTotal(c, -1), nullptr);
}

} // namespace
} // namespace volmar

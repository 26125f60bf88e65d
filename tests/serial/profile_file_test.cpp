#include "serial/profile_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/file_fixtures.h"

namespace volmar {
namespace {

namespace fs = std::filesystem;

class ProfileFile : public ::testing::Test {
protected:
    std::string Path(const std::string& Name = "test.ini") const { return (FDir / Name).string(); }
    void Write(const std::string& Text, const std::string& Name = "test.ini") const {
        std::ofstream(Path(Name), std::ios::binary) << Text;
    }
    std::string Read(const std::string& Name = "test.ini") const {
        std::ifstream in(Path(Name), std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    TProfileFile Loaded(const std::string& Text) const {
        Write(Text);
        TProfileFile p;
        p.Load(Path());
        return p;
    }

    const test::TScratchFolder FScratch;
    const fs::path& FDir = FScratch.Path();
};

TEST_F(ProfileFile, NamesIgnoreCase) {
    const TProfileFile p = Loaded("[Port]\nBaud=19200\n[other]\nBaud=1\n");
    EXPECT_EQ(p.ReadString("PORT", "baud", "x"), "19200");
    EXPECT_EQ(p.ReadString("Other", "BAUD", "x"), "1");
    EXPECT_TRUE(p.SectionExists("pOrT"));
    EXPECT_FALSE(p.SectionExists("Ports"));
    EXPECT_EQ(p.ReadString("Port", "Bau", "x"), "x");
}

TEST_F(ProfileFile, Integers) {
    const TProfileFile p = Loaded(
        "[S]\nDec= 42 \nNeg=-7\nDollar=$1F\nHex=0x1f\nHexUp=0XFF\nAll=$FFFFFFFF\n"
        "Word=abc\nEmpty=\nJunk=12abc\nBare=$\nHuge=99999999999\nTooLong=$123456789\n");
    EXPECT_EQ(p.ReadInteger("S", "Dec", 0), 42);
    EXPECT_EQ(p.ReadInteger("S", "Neg", 0), -7);
    EXPECT_EQ(p.ReadInteger("S", "Dollar", 0), 31);
    EXPECT_EQ(p.ReadInteger("S", "Hex", 0), 31);
    EXPECT_EQ(p.ReadInteger("S", "HexUp", 0), 255);
    EXPECT_EQ(p.ReadInteger("S", "All", 0), -1);
    for (const char* key : {"Word", "Empty", "Junk", "Bare", "Huge", "TooLong", "Missing"})
        EXPECT_EQ(p.ReadInteger("S", key, 77), 77) << key;
    EXPECT_EQ(p.ReadInteger("Nowhere", "Dec", 5), 5);
}

TEST_F(ProfileFile, Booleans) {
    const TProfileFile p = Loaded("[S]\nOn=1\nTwo=$2\nOff=0\nWord=yes\n");
    EXPECT_TRUE(p.ReadBool("S", "On", false));
    EXPECT_TRUE(p.ReadBool("S", "Two", false));
    EXPECT_FALSE(p.ReadBool("S", "Off", true));
    EXPECT_TRUE(p.ReadBool("S", "Word", true));
    EXPECT_FALSE(p.ReadBool("S", "Word", false));
    EXPECT_TRUE(p.ReadBool("S", "Missing", true));
}

TEST_F(ProfileFile, KeysInFileOrder) {
    const TProfileFile p = Loaded(
        "[S]\nZeta=1\n; Alpha=comment\nalpha=2\n\nMid = 3\nZETA=again\nno equals\n[T]\nx=1\n");
    EXPECT_EQ(p.Keys("s"), (std::vector<std::string>{"Zeta", "alpha", "Mid"}));
    EXPECT_TRUE(p.Keys("None").empty());
    EXPECT_EQ(p.ReadString("S", "zeta", ""), "1") << "the first of repeated keys counts";
    EXPECT_EQ(p.ReadString("S", "Alpha", ""), "2");
}

TEST_F(ProfileFile, RoundTripKeepsEverythingByteForByte) {
    const std::string text =
        "; leading comment\r\nGlobal=1\r\n\r\n[Unknown Section]\r\n  Odd Key = spaced value  \r\n"
        "# hash comment\r\n[Port]\r\nBaud=9600\r\nName=\xE9t\xE9\xFF\r\n\r\n\r\n[Last]\r\nx=y";
    TProfileFile p = Loaded(text);
    p.Save(Path("copy.ini"));
    EXPECT_EQ(Read("copy.ini"), text);
    EXPECT_EQ(p.ReadString("Port", "Name", ""), "\xE9t\xE9\xFF");
    EXPECT_EQ(p.ReadString("Unknown Section", "Odd Key", ""), "spaced value");

    p.WriteInteger("Port", "Baud", 19200);
    p.Save(Path());
    std::string expected = text;
    expected.replace(expected.find("9600"), 4, "19200");
    EXPECT_EQ(Read(), expected);
}

TEST_F(ProfileFile, BlanksAroundKeysAndValuesAreNotRead) {
    const std::string text = "[Devices]\n COM1 = /dev/ttyUSB0 \r\n\tCOM2\t=\t/dev/pts/5\t\n"
                             "[Comms]\nPort =\t2\n";
    TProfileFile p = Loaded(text);
    EXPECT_EQ(p.Keys("Devices"), (std::vector<std::string>{"COM1", "COM2"}));
    EXPECT_EQ(p.ReadString("Devices", "COM1", ""), "/dev/ttyUSB0");
    EXPECT_EQ(p.ReadString("Devices", "COM2", ""), "/dev/pts/5");
    EXPECT_EQ(p.ReadInteger("Comms", "Port", 0), 2);
    for (const std::string key : {"COM1", "COM2"})
        p.WriteString("Devices", key, p.ReadString("Devices", key, ""));
    p.WriteInteger("Comms", "Port", 2);
    EXPECT_EQ(p.Text(), text) << "a value written back leaves its line as it was";
}

TEST_F(ProfileFile, WriteReplacesInPlace) {
    TProfileFile p = Loaded("[Port]\n  baud = 9600\nParity=0\n[Other]\nBaud=1\n");
    p.WriteString("PORT", "Baud", "115200");
    p.WriteBool("Port", "Parity", true);
    EXPECT_EQ(p.Text(), "[Port]\n  baud = 115200\nParity=1\n[Other]\nBaud=1\n");
    p.WriteBool("Port", "Parity", false);
    EXPECT_EQ(p.ReadString("Port", "Parity", ""), "0");
}

TEST_F(ProfileFile, NewKeysAndSectionsAreAppended) {
    TProfileFile p = Loaded("[A]\nx=1\n; trailing\ny=2\n\n; about B\n[B]\nz=3");
    p.WriteInteger("a", "New", -5);
    p.WriteString("B", "w", "text");
    p.WriteString("C", "k", "v");
    EXPECT_EQ(p.Text(),
              "[A]\nx=1\n; trailing\ny=2\nNew=-5\n\n; about B\n[B]\nz=3\nw=text\n\n[C]\nk=v\n");
    p.WriteString("C", "k2", "v2");
    EXPECT_EQ(p.ReadString("C", "k2", ""), "v2");
    EXPECT_EQ(p.Keys("C"), (std::vector<std::string>{"k", "k2"}));

    TProfileFile headerOnly = Loaded("[A]\n\n[B]\n");
    headerOnly.WriteString("A", "k", "v");
    EXPECT_EQ(headerOnly.Text(), "[A]\nk=v\n\n[B]\n");
}

TEST_F(ProfileFile, CrLfFilesGetCrLfLines) {
    TProfileFile p = Loaded("[A]\r\nx=1\r\n");
    p.WriteString("A", "y", "2");
    p.WriteString("A", "x", "3");
    p.WriteString("B", "z", "4");
    EXPECT_EQ(p.Text(), "[A]\r\nx=3\r\ny=2\r\n\r\n[B]\r\nz=4\r\n");
}

TEST_F(ProfileFile, ValueIsCutAtALineBreak) {
    TProfileFile p;
    p.WriteString("A", "x", "one\ntwo");
    EXPECT_EQ(p.Text(), "[A]\nx=one\n");
}

TEST_F(ProfileFile, MissingFileIsEmpty) {
    TProfileFile p = Loaded("[Old]\na=1\n");
    p.Load(Path("absent.ini"));
    EXPECT_FALSE(p.SectionExists("Old")) << "loading replaces what was loaded before";
    EXPECT_EQ(p.ReadString("Old", "a", "d"), "d");
    EXPECT_EQ(p.Text(), "");
    p.WriteInteger("Port", "Baud", 9600);
    p.Save(Path("absent.ini"));
    EXPECT_EQ(Read("absent.ini"), "[Port]\nBaud=9600\n");
}

TEST_F(ProfileFile, SaveIntoMissingFolderRaises) {
    TProfileFile p;
    p.WriteString("A", "x", "1");
    const std::string target = Path("no/such/folder.ini");
    try {
        p.Save(target);
        FAIL() << "no exception";
    } catch (const EProfileFileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + target);
    }
}

TEST_F(ProfileFile, FailedWriteKeepsTheOldFile) {
    const std::string old = "[Devices]\nCOM1=/dev/ttyUSB0\n\n[Comms]\nPort=1\n\n"
                            "; the operator's own\n[Shift Notes]\nLast=Tuesday\n";
    Write(old);
    TProfileFile p;
    p.Load(Path());
    p.WriteInteger("Comms", "Port", 2);
    // A file size limit stops the write as a full disk would, even for root.
    EXPECT_EQ(test::ErrorUnderLimit<EProfileFileError>(RLIMIT_FSIZE, 16, [&] { p.Save(Path()); }),
              "Unable to write to " + Path());
    EXPECT_EQ(Read(), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(FDir), fs::directory_iterator()), 1)
        << "the temporary file is removed";
}

TEST_F(ProfileFile, OnlyARegularFileOfAtMostOneMiBIsRead) {
    Write("[A]\n" + std::string((1 << 20) - 4, ';'));
    TProfileFile p;
    p.Load(Path());
    EXPECT_TRUE(p.SectionExists("A"));
    Write("[A]\n" + std::string((1 << 20) - 3, ';'));
    EXPECT_THROW(p.Load(Path()), EProfileFileError);
    const test::TFifo fifo(Path("fifo.ini"));
    try {
        p.Load(Path("fifo.ini"));
        FAIL() << "a FIFO was read";
    } catch (const EProfileFileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Cannot open file " + Path("fifo.ini"), 0), 0u);
    }
}

} // namespace
} // namespace volmar

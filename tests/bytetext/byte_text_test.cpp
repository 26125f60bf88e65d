#include "serial/byte_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace volmar {
namespace {

using namespace std::string_literals;

TEST(HexString, Forms) {
    EXPECT_EQ(HexString(""), "");
    EXPECT_EQ(HexString("\x05"), "05");
    EXPECT_EQ(HexString("\x0D\x0A\x41"), "0D 0A 41");
    EXPECT_EQ(HexString("\x00\xFF\xab"s), "00 FF AB");
    std::string all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<char>(i));
    const std::string text = HexString(all);
    EXPECT_EQ(text.size(), 767u);
    EXPECT_EQ(text.substr(0, 8), "00 01 02");
    EXPECT_EQ(text.substr(text.size() - 2), "FF");
}

TEST(ControlToBytes, CaretRules) {
    EXPECT_EQ(ControlToBytes(""), "");
    EXPECT_EQ(ControlToBytes("^"), "^");
    EXPECT_EQ(ControlToBytes("^M^J"), "\r\n");
    EXPECT_EQ(ControlToBytes("^m"), "\r");
    EXPECT_EQ(ControlToBytes("^@"), "\0"s);
    EXPECT_EQ(ControlToBytes("^["), "\x1B");
    EXPECT_EQ(ControlToBytes("^1"), "\x11");
    EXPECT_EQ(ControlToBytes("^^"), "\x1E");
    EXPECT_EQ(ControlToBytes("A^"), "A^");
    EXPECT_EQ(ControlToBytes("AT^MOK"), "AT\rOK");
    EXPECT_EQ(ControlToBytes("plain text"), "plain text");
    EXPECT_EQ(ControlToBytes("^\xE9"), "\x09") << "any character is accepted after the caret";
}

TEST(BytesToControl, EscapesOnlyControlBytes) {
    EXPECT_EQ(BytesToControl("\r\n"), "^M^J");
    EXPECT_EQ(BytesToControl("\0"s), "^@");
    EXPECT_EQ(BytesToControl("\x1B\x1F"), "^[^_");
    EXPECT_EQ(BytesToControl("^ \x7F\xFF"), "^ \x7F\xFF");
}

TEST(ByteTextRoundTrip, ControlNotation) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        if (i != '^') all.push_back(static_cast<char>(i));
    EXPECT_EQ(ControlToBytes(BytesToControl(all)), all);
    // A caret followed by another character does not survive the trip.
    EXPECT_EQ(ControlToBytes(BytesToControl("\x5E\x4D")), "\r");
}

TEST(DirectoryExists, DirectoriesFilesAndNothing) {
    const auto dir = std::filesystem::temp_directory_path() / "volmar_dir_exists_test";
    std::filesystem::create_directories(dir);
    const auto file = dir / "file.txt";
    std::ofstream(file) << "x";
    EXPECT_TRUE(DirectoryExists(dir.string()));
    EXPECT_FALSE(DirectoryExists(file.string()));
    EXPECT_FALSE(DirectoryExists((dir / "missing").string()));
    EXPECT_FALSE(DirectoryExists(""));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace volmar

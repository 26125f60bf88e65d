// The built program itself, in a folder of its own, answering a machine on
// a pseudo-terminal, then stopped with SIGTERM: its counters file must hold
// exactly what the machine reported.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "interpret/counters.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using testing::ProgramFolder;
using testing::WaitForExit;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kAck = 0x06;
constexpr std::uint8_t kNak = 0x15;

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = std::make_unique<ProgramFolder>(VOLMARSIM_PATH, "volmarproc");
        ASSERT_FALSE(line.Device.empty());
        folder->WriteSettings(line.Device);
    }

    void TearDown() override {
        testing::KillAndReap(first);
        testing::KillAndReap(second);
        folder.reset();
    }

    int ReadByte(int TimeoutMs) { return line.ReadByte(TimeoutMs); }
    int Exchange(const Bytes& Frame) { return line.Exchange(Frame); }

    testing::RawLine line;
    std::unique_ptr<ProgramFolder> folder;
    pid_t first = -1;
    pid_t second = -1;
};

TEST_F(ProgramTest, AnswersTheMachineAndKeepsItsCountsOnTerm) {
    first = folder->Launch();
    ASSERT_GT(first, 0);
    // Waiting for a first message, the program NAKs about once a second.
    ASSERT_EQ(ReadByte(15000), kNak) << "the program opened COM1 and runs its receiver";

    EXPECT_EQ(Exchange({0x26, 0x26}), kAck) << "100Ft In";
    EXPECT_EQ(Exchange({0x69, 0x00, 0x0A, 0x73}), kAck) << "Game with a stake of 10";

    // A second copy raises the first and ends without touching the files
    // (the first writes its counts within a second, its settings at the end).
    const std::string settings = folder->Settings();
    second = folder->Launch();
    EXPECT_EQ(WaitForExit(second, 10000), 0);
    EXPECT_EQ(folder->Settings(), settings);
    EXPECT_EQ(Exchange({0x26, 0x26}), kAck) << "the first copy still answers";

    ASSERT_EQ(::kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(first, 10000), 0);

    TCounters expected{};
    expected.Codes[0x26].Messages = 2;
    expected.Codes[0x69].Messages = 1;
    expected.In = 200;
    expected.Games = 1;
    expected.Stakes = 10;
    EXPECT_EQ(folder->Counters(), testing::CountersBytes(expected));

    const std::string text = folder->Settings();
    EXPECT_NE(text.find("Port=1\n"), std::string::npos);
    EXPECT_NE(text.find("[Devices]\nCOM1="), std::string::npos);
}

TEST_F(ProgramTest, ANamedFolderHoldsItsOwnFilesAndItsOwnCopy) {
    first = folder->Launch();
    ASSERT_GT(first, 0);
    ASSERT_EQ(ReadByte(15000), kNak);

    // Only the named folder's settings name the second line.
    testing::RawLine other;
    const std::filesystem::path named = folder->Dir / "machine2";
    std::filesystem::create_directory(named);
    std::ofstream(named / "VolmarSim.Ini") << "[Devices]\nCOM1=" << other.Device
                                           << "\n[Comms]\nPort=1\n[Dataport]\nSpeed Mode=2\n";
    second = folder->Launch({}, {"--folder", named.string()});
    ASSERT_GT(second, 0);
    ASSERT_EQ(other.ReadByte(15000), kNak) << "a second copy runs on another folder";
    EXPECT_EQ(other.Exchange({0x26, 0x26}), kAck);

    ASSERT_EQ(::kill(second, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(second, 10000), 0);
    TCounters expected{};
    expected.Codes[0x26].Messages = 1;
    expected.In = 100;
    EXPECT_EQ(testing::ReadWholeFile(named / "COUNTERS.DAT"), testing::CountersBytes(expected));
}

// Counts Needle in Text.
int Occurrences(const std::string& Text, const std::string& Needle) {
    int n = 0;
    for (auto at = Text.find(Needle); at != std::string::npos; at = Text.find(Needle, at + 1)) ++n;
    return n;
}

// Waits until the program has written Text to its error output.
bool WaitForError(const ProgramFolder& Folder, const std::string& Text) {
    for (int i = 0; i < 1500; ++i) {
        if (Folder.Errors().find(Text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

TEST_F(ProgramTest, TermWithAFailingSaveReportsItAndExitsNonZero) {
    first = folder->Launch();
    ASSERT_GT(first, 0);
    ASSERT_EQ(ReadByte(15000), kNak);
    // A folder in the counters file's place cannot be replaced.
    std::filesystem::create_directories(folder->Dir / "COUNTERS.DAT" / "in-the-way");
    ASSERT_EQ(::kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(first, 10000), 1) << "no box waits for the operator";
    const std::string errors = folder->Errors();
    EXPECT_EQ(Occurrences(errors, "COUNTERS.DAT"), 1) << errors;
    EXPECT_NE(folder->Settings().find("Port=1\n"), std::string::npos) << "the settings still saved";
}

TEST_F(ProgramTest, TermWhileAStartUpErrorBoxIsUpShutsDownInOrder) {
    folder->WriteSettings((folder->Dir / "no-such-device").string(), "[Options]\nMute Meters=0\n");
    first = folder->Launch();
    ASSERT_GT(first, 0);
    ASSERT_TRUE(WaitForError(*folder, "no-such-device, which does not exist."))
        << "the start-up error is up";
    ASSERT_EQ(::kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(first, 10000), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(folder->Dir / "COUNTERS.DAT"));
    const std::string settings = folder->Settings();
    EXPECT_NE(settings.find("Port=1\n"), std::string::npos);
    EXPECT_NE(settings.find("Mute Meters=0\n"), std::string::npos) << "settings after the box applied";
}

} // namespace
} // namespace volmar

// The message list of volmar-machine --list: the answers it names are the
// simulator's, also where the data decides, and the README shows the same.
#include "tools/machine_script.h"
#include "tools/message_list.h"
#include "tools/simulator_side.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace volmar::machine {
namespace {

using testing::SimulatorSide;
using Bytes = std::vector<std::uint8_t>;

Bytes Frame(const std::string& Line) {
    const TStep s = ParseScript(Line, "t").Steps.at(0);
    return BuildMessageFrame(s.Header, s.Data);
}

TEST(MessageList, EveryCodeWithItsClassNameAndAnswer) {
    const std::vector<TListedMessage> list = MessageList();
    ASSERT_EQ(list.size(), 128u);
    const auto row = [&](std::uint8_t Code) {
        const TListedMessage& m = list.at(Code);
        return m.Class + "|" + m.Name + "|" + m.Answer;
    };
    EXPECT_EQ(row(0x00), "Single byte|Unused|Nak");
    EXPECT_EQ(row(0x01), "Single byte|Reserved|Esc");
    EXPECT_EQ(row(0x05), "Single byte|Sync Request|Ack");
    EXPECT_EQ(row(0x26), "Header only|100Ft In|Ack");
    EXPECT_EQ(row(0x66), "One data byte|" + list[0x66].Name + "|Nak");
    EXPECT_EQ(row(0x6A), "Two data byte|" + list[0x6A].Name + "|Esc");
    EXPECT_EQ(row(0x70), "Variable length|Power on|Ack");
    EXPECT_TRUE(list[0x74].Answer.starts_with("Ack; Nak for")) << list[0x74].Answer;
}

TEST(MessageList, WhereTheDataDecidesTheSimulatorRefusesAsTheListSays) {
    SimulatorSide sim;
    sim.Feed(Frame("send 70h values=binary"));
    EXPECT_EQ(sim.Feed(Frame("send 74h bytes 80 00 00 00")), Bytes{kNak})
        << "a binary amount with its top bit set";
    EXPECT_EQ(sim.Feed(Frame("send 77h bytes 04 00 00 00 01")), Bytes{kNak}) << "data type 4";
    EXPECT_EQ(sim.Feed(Frame("send 77h bytes 00 80 00 00 00")), Bytes{kNak});
    EXPECT_EQ(sim.Feed(Frame("send 77h bytes 03 00 00 00 01")), Bytes{kAck});
}

TEST(MessageList, TheReadmeShowsTheSameTable) {
    std::ifstream in(VOLMAR_README);
    std::stringstream readme;
    readme << in.rdbuf();
    const std::string text = readme.str();
    const std::string table = MessageListText();
    std::string indented;
    std::istringstream lines(table);
    for (std::string line; std::getline(lines, line);) indented += "    " + line + "\n";
    EXPECT_NE(text.find(indented), std::string::npos)
        << "README.md should hold volmar-machine --list, indented four blanks:\n"
        << indented;
}

} // namespace
} // namespace volmar::machine

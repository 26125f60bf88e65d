// The script parser: every kind of line, messages by code and by name, and
// the arguments checked by feeding the frames to the simulator's own
// receiver and decoders; bad lines with their messages and line numbers.
#include "dataport/message.h"
#include "tools/machine_script.h"
#include "tools/simulator_side.h"

#include <gtest/gtest.h>
#include <random>

namespace volmar::machine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Calls = std::vector<std::string>;
using testing::SimulatorSide;

TStep One(const std::string& Line) {
    const TScript s = ParseScript(Line, "t");
    EXPECT_EQ(s.Steps.size(), 1u) << Line;
    return s.Steps.empty() ? TStep{} : s.Steps[0];
}

Bytes FrameOf(const std::string& Line) {
    const TStep s = One(Line);
    return BuildMessageFrame(s.Header, s.Data);
}

TEST(ScriptParse, EveryKindOfLineWithItsLineNumber) {
    const TScript s = ParseScript("# a machine\n\n"
                                  "SEND 26h -> ack   # coin\n"
                                  "Raw ~40 ~10 20 21 ~150 20 wait=900 -> NAK\n"
                                  "pause 250\r\n"
                                  "rts OFF\n",
                                  "t");
    ASSERT_EQ(s.Steps.size(), 4u);
    EXPECT_EQ(s.Steps[0].Kind, TStep::skSend);
    EXPECT_EQ(s.Steps[0].Line, 3);
    EXPECT_EQ(s.Steps[0].Expect, TReply::Ack);
    const TStep& raw = s.Steps[1];
    EXPECT_EQ(raw.Kind, TStep::skRaw);
    ASSERT_EQ(raw.Segments.size(), 2u);
    EXPECT_EQ(raw.Segments[0].PauseMs, 50) << "pauses in a row add up";
    EXPECT_EQ(raw.Segments[0].Bytes, (Bytes{0x20, 0x21}));
    EXPECT_EQ(raw.Segments[1].PauseMs, 150);
    EXPECT_EQ(raw.WaitMs, 900);
    EXPECT_EQ(raw.Expect, TReply::Nak);
    EXPECT_EQ(s.Steps[2].PauseMs, 250);
    EXPECT_EQ(s.Steps[3].Kind, TStep::skRts);
    EXPECT_FALSE(s.Steps[3].Rts);
    EXPECT_EQ(s.Steps[3].Line, 6);
    EXPECT_EQ(One("raw 05 ->none wait=20").Expect, TReply::None);
    EXPECT_EQ(One("send 26h ->Esc").Expect, TReply::Esc);
}

TEST(ScriptParse, MessagesByCodeOrByNameAndTheRetryWords) {
    for (const char* line : {"send 26h", "send 0x26", "send 38", "send \"100ft IN\""})
        EXPECT_EQ(One(line).Header, 0x26) << line;
    EXPECT_EQ(One("send \"Take One Credit\"").Header, 0x0A);
    EXPECT_EQ(FrameOf("send \"100Ft In\" retry"), (Bytes{0xA6, 0xA6})) << "checksum covers bit 7";
    const TStep both = One("send 69h NoRetry retry 10");
    EXPECT_EQ(BuildMessageFrame(both.Header, both.Data), (Bytes{0xE9, 0x00, 0x0A, 0xF3}));
    EXPECT_FALSE(both.AutoRetry);
    EXPECT_TRUE(One("send 26h").AutoRetry);
}

TEST(ScriptDecoded, NumbersAndBytesArriveAsTheSimulatorReadsThem) {
    SimulatorSide sim;
    EXPECT_EQ(sim.Feed(FrameOf("send \"Game\" 500")), Bytes{kAck});
    EXPECT_EQ(sim.Feed(FrameOf("send \"Win Report\" 65535")), Bytes{kAck});
    EXPECT_EQ(sim.Feed(FrameOf("send 62h 255")), Bytes{kAck});
    EXPECT_EQ(sim.Feed(FrameOf("send 74h bytes 00 00 01 00")), Bytes{kAck});
    EXPECT_EQ(sim.Counters.Stakes, 500);
    EXPECT_EQ(sim.Counters.Wins, 65535);
    EXPECT_EQ(sim.Counters.CreditsTaken, 255);
    EXPECT_EQ(sim.Counters.CancelledCredits, 100) << "BCD until a Power on says otherwise";
    sim.Feed(FrameOf("send 6Eh 0x0070"));
    sim.Feed(FrameOf("send \"Value of One Credit Report\" 20"));
    EXPECT_EQ(sim.View.Calls, (Calls{"Switches=112", "CreditValue=20Ft"}));
    EXPECT_EQ(sim.Feed(FrameOf("send 69h retry 7")), Bytes{kAck});
    EXPECT_TRUE(sim.LastRetry);
    EXPECT_EQ(sim.Feed(FrameOf("send 6Ah bytes 01 02")), Bytes{kEsc});
    EXPECT_EQ(sim.Feed(FrameOf("send 05h")), Bytes{kAck}) << "single byte, no checksum";
    EXPECT_EQ(sim.Invalid, 0);
}

TEST(ScriptDecoded, PowerOnIdentityRoundTrips) {
    SimulatorSide sim;
    EXPECT_EQ(sim.Feed(FrameOf("send \"Power on\" manufacturer=ABC version=102 amc=0x7F "
                               "dataport=0xFF credit=100 percent=85 switches=0x0070 protocol=B "
                               "values=binary")),
              Bytes{kAck});
    EXPECT_EQ(sim.View.Calls,
              (Calls{"ManufCode=ABC", "Version=102", "AMC=127", "Dataport=255", "CreditValue=100Ft",
                     "TargPercent=85%", "Switches=112", "ProtoVer=\"B\" (42h)", "Values=Binary"}));
    sim.Feed(FrameOf("send 74h bytes 00 00 01 00"));
    EXPECT_EQ(sim.Counters.CancelledCredits, 256) << "binary values after values=binary";

    SimulatorSide fresh;
    fresh.Feed(FrameOf("send 70h PERCENT=90 Values=BCD amc=0003h"));
    EXPECT_EQ(fresh.View.Calls,
              (Calls{"ManufCode=VLM", "Version=100", "AMC=3", "Dataport=255", "CreditValue=100Ft",
                     "TargPercent=90%", "Switches=128", "ProtoVer=\"B\" (42h)", "Values=BCD"}))
        << "defaults for the keys not given";
}

TEST(ScriptErrors, EachBadLineIsNamedWithItsNumberAndWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"fly 26h", "not a command"},
        {"send \"Reserved\"", "give the code"},
        {"send \"No Such Thing\"", "no message is named"},
        {"send \"100 Ft In\"", "did you mean \"100Ft In\" or \"1000Ft In\"?"},
        {"send 80h", "above 7Fh"},
        {"send 26h 5", "carries no data"},
        {"send 69h", "needs its value"},
        {"send 69h 65536", "above 65535"},
        {"send 69h 10 retry", "right after the message"},
        {"send 69h bytes 01", "two data bytes, not 1"},
        {"send 77h", "bytes <hex...>"},
        {"send 77h bytes", "1 to 20 data bytes, not 0"},
        {"send 70h manufacturer=ABCD", "takes 3 characters"},
        {"send 70h colour=red", "no key \"colour\""},
        {"send 70h percent=1 percent=2", "given twice"},
        {"send 26h -> Ack Nak", "after the expected answer"},
        {"send \"100Ft In", "not closed"},
        {"raw ~100", "at least one byte"},
        {"raw 26 ~100", "must come before a byte"},
        {"pause 86400001", "longer than a day"},
        {"rts maybe", "on or off"},
    };
    for (const auto& [line, complaint] : cases) {
        try {
            ParseScript(std::string("send 26h -> Ack\n# fine so far\n") + line + "\nsend 26h\n",
                        "c.txt");
            ADD_FAILURE() << "accepted: " << line;
        } catch (const EScriptError& e) {
            EXPECT_TRUE(std::string(e.what()).starts_with("c.txt:3: ")) << e.what();
            EXPECT_NE(e.Reason().find(complaint), std::string::npos)
                << line << " -> " << e.Reason();
        }
    }
}

// Random lines of the script's own words and junk: each parses or is refused
// with its line number, and whatever parses as a send frames a message the
// simulator's receiver takes as well formed.
TEST(ScriptErrors, RandomLinesNeverBreakTheParser) {
    const std::vector<std::string> words = {"send",
                                            "raw",
                                            "pause",
                                            "rts",
                                            "on",
                                            "retry",
                                            "noretry",
                                            "bytes",
                                            "->",
                                            "Ack",
                                            "none",
                                            "26h",
                                            "0x69",
                                            "70h",
                                            "62h",
                                            "77h",
                                            "1",
                                            "65535",
                                            "99999999999",
                                            "\"Game\"",
                                            "\"Reserved\"",
                                            "\"",
                                            "#",
                                            "~10",
                                            "wait=",
                                            "FF",
                                            "1G",
                                            "manufacturer=ABC",
                                            "values=binary",
                                            "=",
                                            "0x",
                                            "->Ack"};
    std::mt19937 random(20240601);
    int parsed = 0, refused = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string line;
        for (int i = std::uniform_int_distribution<int>(0, 8)(random); i > 0; --i) {
            if (std::bernoulli_distribution(0.1)(random)) {
                const int c = std::uniform_int_distribution<int>(1, 255)(random);
                line.push_back(c == '\n' ? ' ' : static_cast<char>(c));
            } else {
                line +=
                    words[std::uniform_int_distribution<std::size_t>(0, words.size() - 1)(random)];
            }
            if (std::bernoulli_distribution(0.85)(random)) line += ' ';
        }
        try {
            for (const TStep& step : ParseScript("pause 1\n" + line, "r").Steps) {
                if (step.Kind != TStep::skSend) continue;
                SimulatorSide sim;
                ASSERT_EQ(sim.Feed(BuildMessageFrame(step.Header, step.Data)).size(), 1u) << line;
                ASSERT_EQ(sim.Invalid, 0) << line;
            }
            ++parsed;
        } catch (const EScriptError& e) {
            ++refused;
            ASSERT_EQ(e.Line(), 2) << line;
        }
    }
    EXPECT_GT(parsed, 1000);
    EXPECT_GT(refused, 1000);
}

} // namespace
} // namespace volmar::machine

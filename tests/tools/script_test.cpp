// The script parser: every kind of line, messages by code and by name, and
// the arguments checked by feeding the frames to the simulator's own
// receiver and decoders; bad lines with their messages and line numbers.
#include "dataport/message.h"
#include "tools/machine_messages.h"
#include "tools/machine_script.h"
#include "tools/simulator_side.h"

#include <gtest/gtest.h>
#include <random>

namespace volmar::machine {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::SimulatorSide;

TStep One(const std::string& Line) {
    const TScript s = ParseScript(Line, "t");
    EXPECT_EQ(s.Steps.size(), 1u) << Line;
    return s.Steps.empty() ? TStep{} : s.Steps[0];
}

Bytes FrameOf(const TStep& Step) {
    return BuildMessageFrame(Step.Header, Step.Data);
}

TEST(ScriptParse, EveryKindOfLineWithItsLineNumber) {
    const TScript s = ParseScript("# a machine\n"
                                  "\n"
                                  "SEND 26h -> ack   # coin\n"
                                  "Raw 20 ~150 20 wait=900 -> NAK\n"
                                  "pause 250\r\n"
                                  "rts OFF\n"
                                  "rts on\n",
                                  "t");
    ASSERT_EQ(s.Steps.size(), 5u);
    EXPECT_EQ(s.Steps[0].Kind, TStep::skSend);
    EXPECT_EQ(s.Steps[0].Line, 3);
    EXPECT_EQ(s.Steps[0].Header, 0x26);
    EXPECT_TRUE(s.Steps[0].AutoRetry);
    EXPECT_EQ(s.Steps[0].Expect, TReply::Ack);

    const TStep& raw = s.Steps[1];
    EXPECT_EQ(raw.Kind, TStep::skRaw);
    EXPECT_EQ(raw.Line, 4);
    ASSERT_EQ(raw.Segments.size(), 2u);
    EXPECT_EQ(raw.Segments[0].PauseMs, 0);
    EXPECT_EQ(raw.Segments[0].Bytes, Bytes{0x20});
    EXPECT_EQ(raw.Segments[1].PauseMs, 150);
    EXPECT_EQ(raw.Segments[1].Bytes, Bytes{0x20});
    EXPECT_EQ(raw.WaitMs, 900);
    EXPECT_EQ(raw.Expect, TReply::Nak);

    EXPECT_EQ(s.Steps[2].Kind, TStep::skPause);
    EXPECT_EQ(s.Steps[2].PauseMs, 250);
    EXPECT_EQ(s.Steps[3].Kind, TStep::skRts);
    EXPECT_FALSE(s.Steps[3].Rts);
    EXPECT_TRUE(s.Steps[4].Rts);
    EXPECT_EQ(s.Steps[4].Line, 7);
}

TEST(ScriptParse, RawPausesExpectationsAndWait) {
    const TStep lead = One("raw ~40 ~10 05 06 ~5 07");
    ASSERT_EQ(lead.Segments.size(), 2u);
    EXPECT_EQ(lead.Segments[0].PauseMs, 50) << "pauses in a row add up";
    EXPECT_EQ(lead.Segments[0].Bytes, (Bytes{0x05, 0x06}));
    EXPECT_EQ(lead.Segments[1].PauseMs, 5);
    EXPECT_FALSE(lead.WaitMs);
    EXPECT_FALSE(lead.Expect);
    EXPECT_EQ(One("raw 0x69 00h 0A 73 ->none wait=2000").WaitMs, 2000);
    EXPECT_EQ(One("raw 05 ->none").Expect, TReply::None);
    EXPECT_EQ(One("send 26h ->Esc").Expect, TReply::Esc);
}

TEST(ScriptParse, MessagesByCodeOrByName) {
    for (const char* line :
         {"send 26h", "send 0x26", "send 38", "send \"100Ft In\"", "send \"100ft IN\""})
        EXPECT_EQ(One(line).Header, 0x26) << line;
    EXPECT_EQ(One("send \"Take One Credit\"").Header, 0x0A);
    EXPECT_EQ(One("send \"Door/Switch States Report\" 0").Header, 0x6E);
    EXPECT_EQ(One("send \"Sync Request\"").Header, 0x05);

    const TStep retry = One("send \"100Ft In\" retry");
    EXPECT_EQ(retry.Header, 0xA6);
    EXPECT_EQ(FrameOf(retry), (Bytes{0xA6, 0xA6})) << "the checksum covers bit 7";
    EXPECT_TRUE(retry.AutoRetry);
    const TStep both = One("send 69h NoRetry retry 10");
    EXPECT_EQ(both.Header, 0xE9);
    EXPECT_FALSE(both.AutoRetry);
    EXPECT_EQ(both.Data, (Bytes{0x00, 0x0A}));
}

TEST(ScriptDecoded, NumbersArriveAsTheSimulatorReadsThem) {
    SimulatorSide sim;
    EXPECT_EQ(sim.Feed(FrameOf(One("send \"Game\" 500"))), Bytes{kAck});
    EXPECT_EQ(sim.Counters.Games, 1);
    EXPECT_EQ(sim.Counters.Stakes, 500);
    EXPECT_EQ(sim.Feed(FrameOf(One("send \"Win Report\" 65535"))), Bytes{kAck});
    EXPECT_EQ(sim.Counters.Wins, 65535);
    EXPECT_EQ(sim.Feed(FrameOf(One("send 62h 255"))), Bytes{kAck});
    EXPECT_EQ(sim.Counters.CreditsTaken, 255);
    sim.Feed(FrameOf(One("send 6Eh 0x0070")));
    sim.Feed(FrameOf(One("send \"Value of One Credit Report\" 20")));
    EXPECT_EQ(sim.View.Calls, (std::vector<std::string>{"Switches=112", "CreditValue=20Ft"}));

    EXPECT_EQ(sim.Feed(FrameOf(One("send 69h retry 7"))), Bytes{kAck});
    EXPECT_TRUE(sim.LastRetry);
    EXPECT_EQ(sim.Counters.Stakes, 500) << "a repeat of an accepted message is not counted twice";
    EXPECT_EQ(sim.Feed(FrameOf(One("send \"Cancelled Credits Report\" bytes 00 00 01 00"))),
              Bytes{kAck});
    EXPECT_EQ(sim.Counters.CancelledCredits, 100) << "BCD until a Power on says otherwise";
    EXPECT_EQ(sim.Feed(FrameOf(One("send 6Ah bytes 01 02"))), Bytes{kEsc});
    EXPECT_EQ(sim.Feed(FrameOf(One("send 05h"))), Bytes{kAck}) << "single byte, no checksum";
    EXPECT_EQ(sim.Invalid, 0);
}

TEST(ScriptDecoded, PowerOnIdentityRoundTrips) {
    SimulatorSide sim;
    const TStep step =
        One("send \"Power on\" manufacturer=ABC version=102 amc=0x7F dataport=0xFF credit=100 "
            "percent=85 switches=0x0070 protocol=B values=binary");
    ASSERT_EQ(step.Data.size(), 20u);
    EXPECT_EQ(sim.Feed(FrameOf(step)), Bytes{kAck});
    EXPECT_EQ(sim.View.Calls,
              (std::vector<std::string>{"ManufCode=ABC", "Version=102", "AMC=127", "Dataport=255",
                                        "CreditValue=100Ft", "TargPercent=85%", "Switches=112",
                                        "ProtoVer=\"B\" (42h)", "Values=Binary"}));
    sim.Feed(FrameOf(One("send 74h bytes 00 00 01 00")));
    EXPECT_EQ(sim.Counters.CancelledCredits, 256) << "binary values after values=binary";

    SimulatorSide fresh;
    fresh.Feed(FrameOf(One("send 70h PERCENT=90 Values=BCD amc=0003h")));
    EXPECT_EQ(fresh.View.Calls,
              (std::vector<std::string>{"ManufCode=VLM", "Version=100", "AMC=3", "Dataport=255",
                                        "CreditValue=100Ft", "TargPercent=90%", "Switches=128",
                                        "ProtoVer=\"B\" (42h)", "Values=BCD"}))
        << "defaults for the keys not given";
}

TEST(ScriptEncode, FourByteValuesAndCoins) {
    EXPECT_EQ(EncodeValue32(12345678, true), (Bytes{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(EncodeValue32(99, true), (Bytes{0x00, 0x00, 0x00, 0x99}));
    EXPECT_EQ(EncodeValue32(0x01020304, false), (Bytes{0x01, 0x02, 0x03, 0x04}));
    EXPECT_THROW(EncodeValue32(100000000, true), EBadValue);
    EXPECT_EQ(CoinCode(kCoinInFirst, 5000), 0x2B);
    EXPECT_EQ(CoinCode(kDumpFirst, 1), 0x50);
    EXPECT_THROW(CoinCode(kCoinInFirst, 25), EBadValue);
}

struct BadLine {
    const char* Text;
    const char* Complaint;
};

TEST(ScriptErrors, EachBadLineIsNamedWithItsNumberAndWhy) {
    const BadLine cases[] = {
        {"fly 26h", "not a command"},
        {"send", "needs a message"},
        {"send \"Reserved\"", "give the code"},
        {"send \"Unused\"", "give the code"},
        {"send \"No Such Thing\"", "no message is named"},
        {"send coin", "not a message"},
        {"send 80h", "above 7Fh"},
        {"send 200", "above 7Fh"},
        {"send 26h 5", "carries no data"},
        {"send 69h", "needs its value"},
        {"send 69h 65536", "above 65535"},
        {"send 62h 256", "above 255"},
        {"send 62h 1 2", "takes one number"},
        {"send 69h ten", "not a number"},
        {"send 69h 10 retry", "right after the message"},
        {"send 69h retry retry 10", "given twice"},
        {"send 69h bytes 01", "two data bytes, not 1"},
        {"send 26h bytes 01", "no data bytes"},
        {"send 77h", "bytes <hex...>"},
        {"send 77h bytes", "1 to 20 data bytes, not 0"},
        {"send 77h bytes 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 14 15", "not 21"},
        {"send 77h bytes 1G", "not a byte"},
        {"send 77h bytes 100", "not a byte"},
        {"send 70h manufacturer=ABCD", "takes 3 characters"},
        {"send 70h colour=red", "no key \"colour\""},
        {"send 70h credit=70000", "largest value"},
        {"send 70h credit=lots", "not a number"},
        {"send 70h credit", "not key=value"},
        {"send 70h values=octal", "bcd or binary"},
        {"send 70h percent=1 percent=2", "given twice"},
        {"send 70h protocol=AB", "one character"},
        {"send 26h ->", "needs an answer"},
        {"send 26h -> maybe", "not an answer"},
        {"send 26h -> Ack Nak", "after the expected answer"},
        {"send \"100Ft In", "not closed"},
        {"raw", "at least one byte"},
        {"raw ~100", "at least one byte"},
        {"raw 26 ~100", "must come before a byte"},
        {"raw 26 ~x", "not a number of milliseconds"},
        {"raw 26 zz", "neither a byte"},
        {"raw 26 wait=0", "never see an answer"},
        {"raw 26 wait=5 wait=6", "given twice"},
        {"raw 26 ~99999999999", "not a number"},
        {"pause", "one number"},
        {"pause 1 2", "one number"},
        {"pause -5", "not a number"},
        {"pause 86400001", "longer than a day"},
        {"rts", "on or off"},
        {"rts maybe", "on or off"},
    };
    for (const BadLine& c : cases) {
        const std::string text =
            std::string("send 26h -> Ack\n# fine so far\n") + c.Text + "\nsend 26h\n";
        try {
            ParseScript(text, "coins.txt");
            ADD_FAILURE() << "accepted: " << c.Text;
        } catch (const EScriptError& e) {
            EXPECT_EQ(e.Line(), 3) << c.Text;
            EXPECT_TRUE(std::string(e.what()).starts_with("coins.txt:3: ")) << e.what();
            EXPECT_NE(e.Reason().find(c.Complaint), std::string::npos)
                << c.Text << " -> " << e.Reason();
        }
    }
}

// Random lines made of the script's own words and of junk: every one either
// parses or is refused with its line number, and whatever parses as a send
// frames a message the simulator's receiver takes as well formed.
TEST(ScriptErrors, RandomLinesNeverBreakTheParser) {
    const std::vector<std::string> words = {"send",
                                            "raw",
                                            "pause",
                                            "rts",
                                            "on",
                                            "off",
                                            "retry",
                                            "noretry",
                                            "bytes",
                                            "->",
                                            "Ack",
                                            "nak",
                                            "none",
                                            "Esc",
                                            "26h",
                                            "0x69",
                                            "70h",
                                            "62h",
                                            "77h",
                                            "1",
                                            "255",
                                            "65535",
                                            "99999999999",
                                            "0",
                                            "\"Game\"",
                                            "\"Reserved\"",
                                            "\"Power on\"",
                                            "\"",
                                            "#",
                                            "~",
                                            "~10",
                                            "wait=",
                                            "wait=5",
                                            "FF",
                                            "1G",
                                            "manufacturer=ABC",
                                            "values=binary",
                                            "credit=",
                                            "=",
                                            "-",
                                            "h",
                                            "0x",
                                            "->Ack",
                                            "\t",
                                            "é"};
    std::mt19937 random(20240601);
    int parsed = 0, refused = 0;
    for (int n = 0; n < 20000; ++n) {
        std::string line;
        const int count = std::uniform_int_distribution<int>(0, 8)(random);
        for (int i = 0; i < count; ++i) {
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
            const TScript s = ParseScript("pause 1\n" + line, "r");
            ++parsed;
            for (const TStep& step : s.Steps) {
                if (step.Kind != TStep::skSend) continue;
                SimulatorSide sim;
                ASSERT_EQ(sim.Feed(FrameOf(step)).size(), 1u) << line;
                ASSERT_EQ(sim.Invalid, 0) << line;
            }
        } catch (const EScriptError& e) {
            ++refused;
            ASSERT_EQ(e.Line(), 2) << line;
        }
    }
    EXPECT_GT(parsed, 0);
    EXPECT_GT(refused, 0);
}

} // namespace
} // namespace volmar::machine

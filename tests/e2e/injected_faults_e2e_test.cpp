// Faults armed from a file in the headless program, against the stand-in
// machine: what the machine gets back for a "100Ft In" coin (26h) and what
// it does about it, then what the counters file holds after SIGTERM and what
// the exported report says about the firings. A NAK or ESC instead of the
// answer leaves the coin for the resend to decide; an answer lost, late,
// wrong or followed by garbage means the coin was counted already and its
// resend is a repeat.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dataport/message.h"
#include "interpret/counters.h"
#include "support/machine_session.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

// The machine gives up on an answer after 3 s and resends twice at most.
const SessionOptions kMachine{{"--retries", "2", "--reply-timeout", "3000"}, {}, 90000};

// One exchange as the machine must report it.
struct Seen {
    std::string Frame;
    std::string Answer;
    int Retries;
};

struct FaultCase {
    const char* Kind;
    std::string Fault;  // the line of the fault file
    std::string Lines;  // the script after the settle
    std::vector<Seen> Machine;
};

// What a run left behind.
struct FaultRun {
    SessionResult Session;
    std::string Counters;
    QJsonObject Statistics;
    std::vector<std::string> FaultRows;  // the event log's "Fault injected: ..." rows
};

class InjectedFaultsEndToEnd : public ::testing::Test {
protected:
    // The fault file's line armed in a fresh folder, the script run to its
    // end, the program stopped; the report is exported as it ends.
    static FaultRun Run(const std::string& Fault, const std::string& Script,
                        std::size_t Exchanges) {
        ProgramFolder folder(VOLMARSIM_PATH, "volmarinjected");
        const fs::path faults = folder.Dir / "faults.jsonl";
        std::ofstream(faults) << Fault << "\n";
        const fs::path report = folder.Dir / "report";
        FaultRun r;
        r.Session = RunSession(VOLMAR_MACHINE_PATH, folder, Script, Exchanges, kMachine,
                               {"--headless", "--quiet", "--folder", folder.Dir.string(),
                                "--port", "1", "--faults", faults.string(), "--export",
                                report.string()});
        r.Counters = folder.Counters();
        const auto json = QByteArray::fromStdString(ReadWholeFile(report.string() + ".json"));
        r.Statistics = QJsonDocument::fromJson(json)
                           .object()
                           .value(QLatin1String("statistics"))
                           .toObject()
                           .value(QLatin1String("counters"))
                           .toObject();
        std::istringstream events(ReadWholeFile(report.string() + "-events.csv"));
        for (std::string row; std::getline(events, row);)
            if (row.find("Fault injected: ") != std::string::npos) r.FaultRows.push_back(row);
        return r;
    }

    static long long Stat(const FaultRun& R, const char* Key) {
        return R.Statistics.value(QLatin1String(Key))
            .toObject()
            .value(QLatin1String("count"))
            .toInteger(-1);
    }

    // The machine ran the whole script with every expectation held and got
    // what Want says; the program ended cleanly on SIGTERM.
    static void ExpectMachineSaw(const FaultRun& R, const std::vector<Seen>& Want) {
        const SessionResult& s = R.Session;
        ASSERT_TRUE(s.Started) << s.Transcript << s.ProgramErrors;
        EXPECT_EQ(s.MachineStatus, 0) << "every answer as the script expects\n" << s.Transcript;
        EXPECT_EQ(s.ProgramStatus, 0) << s.ProgramErrors;
        ASSERT_EQ(s.Exchanges.size(), Want.size()) << s.Transcript;
        for (std::size_t i = 0; i < Want.size(); ++i) {
            SCOPED_TRACE("exchange " + std::to_string(i + 1) + ": " + Want[i].Frame);
            const auto& frame = s.Exchanges[i].Frame;
            EXPECT_EQ(HexBytes(frame.data(), frame.size()), Want[i].Frame);
            EXPECT_EQ(s.Exchanges[i].Answer, Want[i].Answer);
            EXPECT_EQ(s.Exchanges[i].Retries, Want[i].Retries);
        }
    }

    // The coin once, 26h with its resends, the sync request once; nothing else.
    static void ExpectCounters(const FaultRun& R, int CoinRetries) {
        TCounters want{};
        want.In = 100;
        want.Codes[0x26] = {1, CoinRetries};
        want.Codes[0x05] = {1, 0};
        const auto got = CountersFromBytes(R.Counters);
        ASSERT_TRUE(got) << "a whole counters file";
        EXPECT_EQ(got->In, want.In) << "the coin exactly once";
        EXPECT_EQ(got->Codes[0x26].Messages, want.Codes[0x26].Messages);
        EXPECT_EQ(got->Codes[0x26].Retries, want.Codes[0x26].Retries);
        // Byte for byte, without a dump of them all on a failure.
        EXPECT_TRUE(R.Counters == CountersBytes(want)) << "no other count or total moved";
    }

    void RunTable(const std::vector<FaultCase>& Cases) {
        for (const FaultCase& c : Cases) {
            SCOPED_TRACE(c.Kind);
            const FaultRun r = Run(c.Fault, kSettleLines + c.Lines, c.Machine.size());
            ExpectMachineSaw(r, c.Machine);
            // In every case the simulator receives one resend of the coin.
            ExpectCounters(r, 1);
            EXPECT_EQ(Stat(r, "faults-injected"), 1) << "armed for one firing";
            ASSERT_EQ(r.FaultRows.size(), 1u);
            EXPECT_NE(r.FaultRows[0].find("26h"), std::string::npos) << r.FaultRows[0];
        }
    }
};

const Seen kSettled{"1C", "Nak", 0};
const Seen kSynced{"05", "Ack", 0};

TEST_F(InjectedFaultsEndToEnd, ARefusedCoinIsCountedOnlyFromItsResend) {
    RunTable({
        {"nak", R"({"kind":"nak","codes":"26","firings":1})",
         "send 26h -> Ack\nsend 05h -> Ack\n",
         {kSettled, {"26 26", "Ack", 1}, kSynced}},
        // A machine does not resend after an ESC by itself; this one is told to.
        {"esc", R"({"kind":"esc","codes":"26","firings":1})",
         "send 26h -> Esc\nsend 26h retry -> Ack\nsend 05h -> Ack\n",
         {kSettled, {"26 26", "Esc", 0}, {"A6 A6", "Ack", 0}, kSynced}},
    });
}

TEST_F(InjectedFaultsEndToEnd, ACoinWhoseAnswerWentAmissIsNotCountedAgainOnItsResend) {
    RunTable({
        {"withhold", R"({"kind":"withhold","codes":"26","firings":1})",
         "send 26h -> Ack\nsend 05h -> Ack\n",
         {kSettled, {"26 26", "Ack", 1}, kSynced}},
        // Two seconds past the machine's wait; the pause lets the late answer
        // arrive before the next message, which drops it.
        {"delay", R"({"kind":"delay","codes":"26","firings":1,"delay_ms":5000})",
         "send 26h -> Ack\npause 3000\nsend 05h -> Ack\n",
         {kSettled, {"26 26", "Ack", 1}, kSynced}},
        // 3Fh is no NAK, so the machine does not resend by itself.
        {"wrong-byte", R"({"kind":"wrong-byte","codes":"26","firings":1,"byte":63})",
         "send 26h\nsend 26h retry -> Ack\nsend 05h -> Ack\n",
         {kSettled, {"26 26", "3Fh", 0}, {"A6 A6", "Ack", 0}, kSynced}},
        // The machine has its answer and drops the garbage once it has come;
        // it is told to resend all the same.
        {"garbage", R"({"kind":"garbage","codes":"26","firings":1,"count":3})",
         "send 26h -> Ack\npause 500\nsend 26h retry -> Ack\nsend 05h -> Ack\n",
         {kSettled, {"26 26", "Ack", 0}, {"A6 A6", "Ack", 0}, kSynced}},
        // Over two seconds before the machine's resend.
        {"silence", R"({"kind":"silence","codes":"26","firings":1,"silence_s":1})",
         "send 26h -> Ack\nsend 05h -> Ack\n",
         {kSettled, {"26 26", "Ack", 1}, kSynced}},
    });
}

TEST_F(InjectedFaultsEndToEnd, WithoutFirstNaksTheFirstMessageNeedsNoSettling) {
    // No settling: nothing is sent for the first message to meet. The pause
    // spans the first NAKs, each withheld.
    const FaultRun r = Run(R"({"kind":"no-first-naks"})",
                           "pause 3000\nsend 26h -> Ack\nsend 05h -> Ack\n", 2);
    ExpectMachineSaw(r, {{"26 26", "Ack", 0}, kSynced});
    ExpectCounters(r, 0);
    EXPECT_EQ(Stat(r, "first-message-nak"), 0);
    EXPECT_GE(Stat(r, "faults-injected"), 1);
    EXPECT_EQ(Stat(r, "faults-injected"), static_cast<long long>(r.FaultRows.size()))
        << "a row for each firing";
}

} // namespace
} // namespace volmar

// What a protocol engineer sees in Wireshark: a headless run's pcapng
// capture read by tshark with the dissector, a text capture of the same
// conversation converted and read alike, and the live view through the
// extcap program while a machine talks.
#include <gtest/gtest.h>

#include <QJsonObject>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "e2e/conversation.h"
#include "e2e/headless_client.h"
#include "e2e/line_model.h"
#include "interpret/counters.h"
#include "support/machine_session.h"
#include "support/program_process.h"
#include "support/tshark.h"

namespace volmar {
namespace {

using namespace volmar::testing;

constexpr int kRetryLimit = 2;

// Program's exit status, or -1.
int RunProgram(const char* Program, const std::vector<std::string>& Args) {
    pid_t pid = SpawnProcess(Program, Args, ChildEnvironment({}), -1, -1);
    const std::optional<int> status = WaitForExit(pid, 60000);
    KillAndReap(pid);
    return status.value_or(-1);
}

// Frames and the replies that answer them, one row each: direction, kind,
// name, repeat bit, resend, checksum status, reply byte; and each reply
// checked to answer the frame just before it.
std::vector<std::string> Exchanges(const test::TTsharkResult& Read) {
    std::vector<std::string> rows;
    std::string lastFrame;
    for (const std::string& row : Read.Rows) {
        const std::size_t bar = row.find('|');
        const std::string number = row.substr(0, bar);
        const std::size_t last = row.rfind('|');
        const std::string answers = row.substr(last + 1);
        const std::string rest = row.substr(bar + 1, last - bar - 1);
        if (answers.empty()) {
            lastFrame = number;
        } else {
            EXPECT_EQ(answers, lastFrame) << row;
        }
        rows.push_back(rest);
    }
    return rows;
}

const QStringList kExchangeFields = {
    QStringLiteral("frame.number"),        QStringLiteral("frame.packet_flags_direction"),
    QStringLiteral("volmar.kind"),         QStringLiteral("volmar.name"),
    QStringLiteral("volmar.retry"),        QStringLiteral("volmar.repeat"),
    QStringLiteral("volmar.checksum.status"), QStringLiteral("volmar.text"),
    QStringLiteral("volmar.answer"), QStringLiteral("volmar.answers")};
// Frames and the replies to them: not the NAKs of the wait for a first message.
const QStringList kExchangesOnly = {QStringLiteral("-Y"),
                                    QStringLiteral("volmar.kind == 0 || volmar.cause != 1")};

class WiresharkEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(test::TsharkPath().isEmpty()) << "tshark: scripts/setup-deps installs it";
    }

    // Coins, a resend, a bad checksum and its resend, a game.
    static Conversation Script(LineModel& Model) {
        Conversation c(Model, kRetryLimit);
        c.Settle();
        c.Send(0x26);
        c.Send(0x26, {}, true);
        c.BadChecksum(0x22, {});
        c.Send(0x22, {}, true);
        c.Send(0x69, {0x00, 0x0A});
        return c;
    }

    // The conversation against a headless copy capturing into Capture.
    void Run(const fs::path& Capture) {
        TCounters counters{};
        LineModel model(counters);
        const Conversation c = Script(model);
        const SessionResult r =
            RunSession(VOLMAR_MACHINE_PATH, folder, c.Script, c.Expected.size(),
                       {{"--retries", std::to_string(kRetryLimit), "--reply-timeout", "3000"}, {}, 60000},
                       {"--headless", "--quiet", "--capture", Capture.string()}, kNoDisplay);
        ASSERT_TRUE(r.Started) << r.Transcript;
        ASSERT_EQ(r.MachineStatus, 0) << r.Transcript;
        ASSERT_EQ(r.ProgramStatus, 0) << r.ProgramErrors;
    }

    void TearDown() override { KillAndReap(copy); }

    ProgramFolder folder{VOLMARSIM_PATH, "volmarshark"};
    pid_t copy = -1;
};

TEST_F(WiresharkEndToEnd, AHeadlessPcapngCaptureAndAConvertedTextOneReadAlike) {
    const fs::path pcapng = folder.Dir / "capture.pcapng";
    Run(pcapng);
    const test::TTsharkResult read = test::TsharkFields(pcapng.string(), kExchangeFields, kExchangesOnly);
    ASSERT_EQ(read.Exit, 0) << read.Errors;
    const std::vector<std::string> expected = {
        // The settling byte, given up on, and its NAK after the silence.
        "0x00000001|0|Reserved|0||2||", "0x00000002|1||||||0x15",
        "0x00000001|0|100Ft In|0||1||", "0x00000002|1||||||0x06",
        // The resend, with the repeat bit, recognised.
        "0x00000001|0|100Ft In|1|1|1||", "0x00000002|1||||||0x06",
        "0x00000001|0|5Ft In|0||0||", "0x00000002|1||||||0x15",
        "0x00000001|0|5Ft In|1||1||", "0x00000002|1||||||0x06",
        "0x00000001|0|Game|0||1|10|", "0x00000002|1||||||0x06",
    };
    EXPECT_EQ(Exchanges(read), expected) << read.Errors;

    const fs::path text = folder.Dir / "capture.txt";
    Run(text);
    const fs::path converted = folder.Dir / "converted.pcapng";
    ASSERT_EQ(RunProgram(VOLMAR_PCAPNG_PATH, {text.string(), converted.string()}), 0);
    const test::TTsharkResult again =
        test::TsharkFields(converted.string(), kExchangeFields, kExchangesOnly);
    ASSERT_EQ(again.Exit, 0) << again.Errors;
    EXPECT_EQ(Exchanges(again), expected);
    // What is there is never replaced.
    EXPECT_NE(RunProgram(VOLMAR_PCAPNG_PATH, {text.string(), converted.string()}), 0);
}

TEST_F(WiresharkEndToEnd, TheLiveViewListsARunningCopyAndHoldsWhatItSaid) {
    MachineRun machine;
    // A coin every 200 ms for about half a minute.
    std::string script = kSettleLines;
    for (int i = 0; i < 150; ++i) script += "send 26h -> Ack\npause 200\n";
    ASSERT_TRUE(machine.Start(VOLMAR_MACHINE_PATH, folder.Dir, script + kHoldLines, {}))
        << machine.Problem;
    folder.WriteSettings(machine.Device);
    const fs::path socket = folder.Dir / "control.sock";
    copy = folder.Launch(kNoDisplay, {"--headless", "--quiet", "--control", socket.string()});
    ControlClient client(socket);
    ASSERT_TRUE(client.Connected);
    const QStringList env = {QStringLiteral("XDG_RUNTIME_DIR=") + QString::fromStdString(folder.Runtime.string()),
                             QStringLiteral("WIRESHARK_EXTCAP_DIR=" VOLMAR_EXTCAP_DIR)};
    const QString interface = QStringLiteral("volmarsim-%1").arg(copy);

    const test::TTsharkResult listed = test::RunTshark({QStringLiteral("-D")}, env);
    bool found = false;
    for (const std::string& row : listed.Rows)
        found = found || row.find(interface.toStdString() + " (Volmar Simulator: " + socket.string() + ")") != std::string::npos;
    EXPECT_TRUE(found) << listed.Errors;

    // The messages the simulator received meanwhile, as its events tell them.
    ASSERT_TRUE(client.Ask(R"({"cmd":"subscribe"})").value(QLatin1String("ok")).toBool());
    const test::TTsharkResult live = test::RunTshark(
        test::FieldArgs({QStringLiteral("volmar.name")}) +
            QStringList{QStringLiteral("-i"), interface, QStringLiteral("-a"), QStringLiteral("duration:8"),
                        QStringLiteral("-Y"), QStringLiteral("volmar.kind == 0")},
        env, 60);
    ASSERT_EQ(live.Exit, 0) << live.Errors;
    std::vector<std::string> said;
    // The events of the capture's time have all come by now, or within a moment.
    const auto enough = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (QJsonObject event = client.Next(2000);
         !event.isEmpty() && std::chrono::steady_clock::now() < enough; event = client.Next(2000))
        if (event.value(QLatin1String("event")).toString() == QLatin1String("message"))
            said.push_back(event.value(QLatin1String("name")).toString().toStdString());
    ASSERT_FALSE(live.Rows.empty()) << live.Errors;
    // Every frame the live view held, in order, among those the simulator took.
    const auto at = std::search(said.begin(), said.end(), live.Rows.begin(), live.Rows.end());
    EXPECT_NE(at, said.end()) << live.Errors;
}

} // namespace
} // namespace volmar

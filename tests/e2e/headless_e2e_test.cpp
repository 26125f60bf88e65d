// The program without a window, as its own process with no display at all,
// against the stand-in machine: copies side by side on folders and lines of
// their own, clients on the control socket, its hold on its folder and its
// command line.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/conversation.h"
#include "e2e/line_model.h"
#include "support/machine_session.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

constexpr int kRetryLimit = 2;
// Headless must never reach for a display.
const std::vector<std::string> kNoDisplay{"QT_QPA_PLATFORM=", "DISPLAY=", "WAYLAND_DISPLAY="};

// An empty object for a line that is no JSON object.
QJsonObject ParseLine(const std::string& Line) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(Line)).object();
}

QJsonValue Field(const QJsonObject& Object, const char* Key) {
    return Object.value(QLatin1String(Key));
}
std::string Text(const QJsonObject& Object, const char* Key) {
    return Field(Object, Key).toString().toStdString();
}

// A client of a copy's control socket; the socket is there only once the
// copy has opened its port, so connecting tries for a while.
class ControlClient {
public:
    explicit ControlClient(const fs::path& Path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, Path.c_str(), sizeof address.sun_path - 1);
        for (int i = 0; i < 1500 && !Connected; ++i) {
            if (FFd >= 0) ::close(FFd);
            FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            Connected = ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            if (!Connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FReader = std::make_unique<LineReader>(FFd);
    }

    void Send(const std::string& Line) {
        const std::string s = Line + "\n";
        ::send(FFd, s.data(), s.size(), MSG_NOSIGNAL);
    }
    QJsonObject Next() { return ParseLine(FReader->Next(30000).value_or("")); }

    // The reply to Request, passing over the events of a subscription.
    QJsonObject Ask(const std::string& Request) {
        Send(Request);
        for (;;) {
            const QJsonObject line = Next();
            if (line.isEmpty() || line.contains(QLatin1String("ok"))) return line;
        }
    }

    bool Connected = false;

private:
    int FFd = -1;
    std::unique_ptr<LineReader> FReader;
};

// One headless copy on a folder of its own (Name, beside the program), its
// port on the line of a machine that runs a script.
class HeadlessCopy {
public:
    HeadlessCopy(const ProgramFolder& Program, const std::string& Name)
        : Dir(Program.Dir / Name), Control(Dir / "control"), FProgram(Program) {
        fs::create_directory(Dir);
    }
    ~HeadlessCopy() {
        KillAndReap(Pid);
        if (FKeeper >= 0) ::close(FKeeper);
    }

    bool Start(const std::string& Script) {
        if (!Machine.Start(VOLMAR_MACHINE_PATH, Dir, Script + kHoldLines,
                           {"--retries", std::to_string(kRetryLimit), "--reply-timeout", "3000"}))
            return false;
        Pid = FProgram.Launch(kNoDisplay,
                              {"--headless", "--folder", Dir.string(), "--port", "1", "--device",
                               Machine.Device, "--speed", "9600", "--control", Control.string()},
                              Dir / "events.jsonl");
        if (Pid <= 0 || !WaitUntilHeldOpen(Pid, Machine.Device, 15000)) {
            Machine.Problem = "the program did not open " + Machine.Device;
            return false;
        }
        // Held open, never read: the machine's end stays up when the program closes its own.
        FKeeper = ::open(Machine.Device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        return true;
    }

    // Ends the program as a desktop would, then the machine; the program's status.
    std::optional<int> Terminate() {
        std::optional<int> status;
        if (::kill(Pid, SIGTERM) == 0) status = WaitForExit(Pid, 15000);
        Machine.Stop();
        MachineStatus = Machine.Finish(15000);
        return status;
    }

    std::vector<std::string> Output() const {
        std::istringstream in(ReadWholeFile(Dir / "events.jsonl"));
        std::vector<std::string> lines;
        for (std::string l; std::getline(in, l);) lines.push_back(l);
        return lines;
    }

    const fs::path Dir;
    const fs::path Control;
    MachineRun Machine;
    pid_t Pid = -1;
    std::optional<int> MachineStatus;

private:
    const ProgramFolder& FProgram;
    int FKeeper = -1;
};

void ExpectTotals(const QJsonObject& Reply, const TCounters& Expected) {
    ASSERT_TRUE(Field(Reply, "ok").toBool()) << QJsonDocument(Reply).toJson().toStdString();
    const QJsonObject got = Field(Reply, "totals").toObject();
    const std::pair<const char*, std::int32_t> want[] = {
        {"in", Expected.In},           {"out", Expected.Out},
        {"games", Expected.Games},     {"stakes", Expected.Stakes},
        {"wins", Expected.Wins},       {"cashbox", Expected.Cashbox},
        {"refills", Expected.Refills}, {"dumps", Expected.Dumps},
        {"cancelled-credits", Expected.CancelledCredits},
        {"credits-taken", Expected.CreditsTaken}};
    for (const auto& [name, value] : want)
        EXPECT_EQ(Field(got, name).toInteger(-1), value) << name;
}

class HeadlessEndToEnd : public ::testing::Test {
protected:
    void TearDown() override { KillAndReap(first); }

    ProgramFolder folder{VOLMARSIM_PATH, "volmarheadless"};
    pid_t first = -1;
};

TEST_F(HeadlessEndToEnd, CopiesSideBySideCountTheirOwnMachineAndSaveOnTerm) {
    TCounters expected[2]{};
    LineModel firstModel(expected[0]), secondModel(expected[1]);
    Conversation talks[2]{{firstModel, kRetryLimit}, {secondModel, kRetryLimit}};
    talks[0].Settle();
    talks[0].Send(0x26);
    talks[0].Send(0x26);
    talks[0].Send(0x69, {0x00, 0x0A});
    talks[0].Send(0x6C, {0x00, 0x14});
    talks[1].Settle();
    talks[1].Send(0x2B);
    talks[1].Send(0x69, {0x01, 0x00});
    talks[1].Send(0x62, {3});
    talks[1].Send(0x33);

    HeadlessCopy copies[2]{{folder, "first"}, {folder, "second"}};
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(copies[i].Start(talks[i].Script))
            << copies[i].Machine.Transcript() << folder.Errors();
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(copies[i].Dir.filename().string());
        HeadlessCopy& copy = copies[i];
        const Conversation& talk = talks[i];
        ASSERT_TRUE(copy.Machine.AwaitExchanges(talk.Expected.size(), 60000))
            << copy.Machine.Transcript();
        ExpectTotals(ControlClient(copy.Control).Ask(R"({"cmd":"totals"})"), expected[i]);
        EXPECT_EQ(copy.Terminate(), 0) << folder.Errors();
        EXPECT_EQ(copy.MachineStatus, 0) << copy.Machine.Transcript();

        EXPECT_EQ(ReadWholeFile(copy.Dir / "COUNTERS.DAT"), CountersBytes(expected[i]));
        const std::string settings = ReadWholeFile(copy.Dir / "VolmarSim.Ini");
        EXPECT_NE(settings.find("[Comms]"), std::string::npos) << settings;
        EXPECT_EQ(settings.find(copy.Machine.Device), std::string::npos)
            << "the device was for this run only";

        std::vector<ExpectedExchange> messages;
        for (const auto& x : talk.Expected)
            if (!x.AfterSilence) messages.push_back(x);
        std::size_t next = 0;
        for (const std::string& line : copy.Output()) {
            const QJsonObject event = ParseLine(line);
            EXPECT_TRUE(Field(event, "event").isString()) << line;
            if (Text(event, "event") != "message") continue;
            ASSERT_LT(next, messages.size()) << line;
            EXPECT_EQ(Text(event, "frame"), HexList(messages[next].Frame));
            EXPECT_EQ(Text(event, "answer"), messages[next].Answer);
            ++next;
        }
        EXPECT_EQ(next, messages.size()) << "a message event for each message";
    }
}

TEST_F(HeadlessEndToEnd, ControlClientsAskSubscribeAndResetWithoutHoldingUpTheAnswers) {
    // Enough events that a subscriber who never reads fills its socket.
    constexpr int kCoins = 1500;
    TCounters expected{};
    LineModel model(expected);
    Conversation talk(model, kRetryLimit);
    talk.Settle();
    for (int i = 0; i < kCoins; ++i) talk.Send(0x26);

    HeadlessCopy copy(folder, "controlled");
    ASSERT_TRUE(copy.Start(talk.Script)) << copy.Machine.Transcript() << folder.Errors();
    ControlClient client(copy.Control), idle(copy.Control);
    ASSERT_TRUE(client.Connected && idle.Connected) << folder.Errors();
    idle.Send(R"({"cmd":"subscribe"})");
    EXPECT_TRUE(Field(client.Ask(R"({"cmd":"subscribe"})"), "ok").toBool());
    QJsonObject event;
    do event = client.Next();
    while (!event.isEmpty() && Text(event, "event") != "message");
    EXPECT_EQ(Field(event, "code").toInt(), 0x26) << "a message event while the machine sends";
    EXPECT_EQ(Text(event, "answer"), "Ack");

    ASSERT_TRUE(copy.Machine.AwaitExchanges(talk.Expected.size(), 300000))
        << copy.Machine.Transcript();
    const QJsonObject status = client.Ask(R"({"cmd":"status"})");
    const QJsonObject port = Field(status, "status").toObject();
    EXPECT_TRUE(Field(status, "ok").toBool());
    EXPECT_EQ(Field(port, "port").toInt(), 1);
    EXPECT_TRUE(Field(port, "open").toBool());
    EXPECT_EQ(Text(port, "device"), copy.Machine.Device);

    const QJsonObject malformed = client.Ask(R"({"cmd": "totals")");
    EXPECT_FALSE(Field(malformed, "ok").toBool(true));
    EXPECT_FALSE(Text(malformed, "error").empty());
    ExpectTotals(client.Ask(R"({"cmd":"totals"})"), expected);
    EXPECT_TRUE(Field(client.Ask(R"({"cmd":"reset"})"), "ok").toBool());
    ExpectTotals(client.Ask(R"({"cmd":"totals"})"), TCounters{});

    EXPECT_EQ(copy.Terminate(), 0) << folder.Errors();
    EXPECT_EQ(copy.MachineStatus, 0) << "every answer as the script expects\n"
                                     << copy.Machine.Transcript();
    std::size_t acked = 0;
    for (const auto& x : copy.Machine.Exchanges) acked += x.Answer == "Ack" ? 1 : 0;
    EXPECT_EQ(acked, static_cast<std::size_t>(kCoins));
    EXPECT_EQ(ReadWholeFile(copy.Dir / "COUNTERS.DAT"), CountersBytes(TCounters{}))
        << "the reset is what is saved";
}

TEST_F(HeadlessEndToEnd, RefusesASecondCopyOnItsFolderAndAMistakenCommandLine) {
    RawLine line;
    const std::string dir = (folder.Dir / "files").string();
    const std::vector<std::string> args{"--headless", "--quiet", "--folder", dir,
                                        "--port",     "1",       "--device", line.Device};
    first = folder.Launch(kNoDisplay, args);
    ASSERT_EQ(line.ReadByte(15000), kNak) << "the first copy runs\n" << folder.Errors();
    EXPECT_NE(folder.Errors().find("volmarsim: settings and counters in " + dir + "\n"),
              std::string::npos)
        << folder.Errors();

    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Text;  // on its error output or standard output
    };
    const Case cases[] = {
        {args, 3,
         "another copy (process " + std::to_string(first) + ") already runs on the files in " +
             dir},
        {{"--headless", "--no-such-option"}, 2, "Usage: volmarsim"},
        {{"--headless", "--help"}, 0, "--control <path>"},
        {{"--headless", "--version"}, 0, "volmarsim "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Args.back());
        const std::size_t seen = folder.Errors().size();
        pid_t pid = folder.Launch(kNoDisplay, c.Args, folder.Dir / "program.out");
        EXPECT_EQ(WaitForExit(pid, 15000), c.Status);
        KillAndReap(pid);
        const std::string said =
            folder.Errors().substr(seen) + ReadWholeFile(folder.Dir / "program.out");
        EXPECT_NE(said.find(c.Text), std::string::npos) << said;
    }
    EXPECT_EQ(::kill(first, 0), 0) << "the first copy still runs";
    ASSERT_EQ(::kill(first, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(first, 15000), 0);
}

} // namespace
} // namespace volmar

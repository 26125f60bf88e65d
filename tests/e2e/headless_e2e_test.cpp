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
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/headless_client.h"
#include "e2e/headless_copy.h"
#include "e2e/conversation.h"
#include "e2e/line_model.h"
#include "support/machine_session.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

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

    // A faults file that nobody writes to never holds up the start.
    const std::string fifo = (folder.Dir / "faults.fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Text;  // on its error output or standard output
        bool Window = false;
    };
    // A folder that cannot be made ends a run at once, not after its duration.
    RawLine other;
    std::ofstream(folder.Dir / "plain") << "a file";
    const std::string unusable = (folder.Dir / "plain" / "files").string();
    const std::string cannotMake = "the folder " + unusable + " cannot be made: Not a directory";
    const Case cases[] = {
        {args, 3,
         "another copy (process " + std::to_string(first) + ") already runs on the files in " +
             dir},
        {{"--headless", "--quiet", "--folder", dir + "-fifo", "--faults", fifo}, 3,
         "nobody writes to " + fifo},
        {{"--headless", "--no-such-option"}, 2, "Usage: volmarsim"},
        {{"--headless", "--help"}, 0, "--control <path>"},
        {{"--headless", "--version"}, 0, "volmarsim "},
        {{"--headless", "--folder", ""}, 2, "--folder needs a folder"},
        {{"--headless", "--quiet", "--port", "1", "--device", other.Device, "--duration", "60",
          "--folder", unusable},
         3, cannotMake},
        {{"--duration", "60", "--folder", unusable}, 3, cannotMake, true},
    };
    for (const Case& c : cases) {
        std::string called = c.Window ? "window" : "";
        for (const std::string& a : c.Args) called += " '" + a + "'";
        SCOPED_TRACE(called);
        const std::size_t seen = folder.Errors().size();
        pid_t pid = folder.Launch(c.Window ? std::vector<std::string>{} : kNoDisplay, c.Args,
                                  folder.Dir / "program.out");
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

// Standard output and error into pipes that are closed, and the capture
// into a FIFO whose reader leaves or never comes: the machine is answered
// all along, and a signal ends the program in order.
class OutputsThatLoseTheirReader : public HeadlessEndToEnd {
protected:
    // The alert in the status, asked for until Wanted holds, for up to 15 s.
    static std::string AlertUntil(ControlClient& Client,
                                  const std::function<bool(const std::string&)>& Wanted) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        std::string alert;
        do {
            const QJsonObject reply = Client.Ask(R"({"cmd":"status"})");
            alert = Text(Field(reply, "status").toObject(), "alert");
            if (reply.isEmpty() || Wanted(alert)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < end);
        return alert;
    }

    static std::unique_ptr<LineReader> OpenReader(const fs::path& Fifo) {
        return std::make_unique<LineReader>(
            ::open(Fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    }

    // The next line from Reader that holds Text, or nothing within 30 s.
    static std::optional<std::string> LineWith(LineReader& Reader, const std::string& Text) {
        std::optional<std::string> line;
        do line = Reader.Next(30000);
        while (line && line->find(Text) == std::string::npos);
        return line;
    }

    TCounters expected{};
    LineModel model{expected};
};

TEST_F(OutputsThatLoseTheirReader, StandardOutputReadForThreeLinesThenClosed) {
    Conversation talk(model, kRetryLimit);
    talk.Settle();
    for (int i = 0; i < 20; ++i) talk.Send(i % 2 ? 0x26 : 0x2B);
    HeadlessCopy copy(folder, "stdout");
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    auto events = std::make_unique<LineReader>(out[0]);
    copy.StdoutFd = out[1];
    const bool started = copy.Start(talk.Script);
    ::close(out[1]);
    ASSERT_TRUE(started) << copy.Machine.Transcript() << folder.Errors();
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(events->Next(30000)) << folder.Errors();
    events.reset();

    EXPECT_TRUE(copy.Machine.AwaitExchanges(talk.Expected.size(), 60000))
        << copy.Machine.Transcript();
    EXPECT_EQ(copy.Terminate(), 0) << folder.Errors();
    EXPECT_EQ(copy.MachineStatus, 0) << copy.Machine.Transcript();
    EXPECT_EQ(ReadWholeFile(copy.Dir / "COUNTERS.DAT"), CountersBytes(expected));
    const std::string errors = folder.Errors();
    const std::string said = "volmarsim: the reader of standard output has gone away";
    EXPECT_NE(errors.find(said), std::string::npos) << errors;
    EXPECT_EQ(errors.find(said), errors.rfind(said)) << "said once\n" << errors;
}

TEST_F(OutputsThatLoseTheirReader, StandardErrorClosedWhileTheDeviceGoesAndComesBack) {
    Conversation before(model, kRetryLimit), after(model, kRetryLimit);
    before.Settle();
    before.Send(0x26);
    after.Settle();
    for (int i = 0; i < 3; ++i) after.Send(0x26);
    HeadlessCopy copy(folder, "stderr");
    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    ::close(err[0]);
    copy.StderrFd = err[1];
    copy.Extra = {"--quiet"};
    copy.Link = copy.Dir / "line";
    const bool started = copy.Start(before.Script);
    ::close(err[1]);
    ASSERT_TRUE(started) << copy.Machine.Transcript();
    ASSERT_TRUE(copy.Machine.AwaitExchanges(before.Expected.size(), 60000))
        << copy.Machine.Transcript();

    // The folder's line at the start already found no reader.
    ControlClient client(copy.Control);
    const std::string lost =
        "The reader of standard error has gone away: messages are no longer written there";
    EXPECT_EQ(AlertUntil(client, [&](const std::string& A) { return A == lost; }), lost);

    // Unplugged: the program says so where it still can, and lives on.
    copy.Machine.Stop();
    copy.Machine.Finish(15000);
    const auto gone = [](const std::string& A) { return A.ends_with("has gone away"); };
    EXPECT_TRUE(gone(AlertUntil(client, gone)));

    // Plugged back in under the same name.
    MachineRun back;
    fs::create_directory(copy.Dir / "back");
    ASSERT_TRUE(back.Start(VOLMAR_MACHINE_PATH, copy.Dir / "back", after.Script + kHoldLines,
                           copy.MachineArgs()))
        << back.Transcript();
    EXPECT_TRUE(back.AwaitExchanges(after.Expected.size(), 60000)) << back.Transcript();
    back.Stop();
    EXPECT_EQ(back.Finish(15000), 0) << back.Transcript();
    EXPECT_EQ(copy.Terminate(), 0);
    EXPECT_EQ(ReadWholeFile(copy.Dir / "COUNTERS.DAT"), CountersBytes(expected));
}

TEST_F(OutputsThatLoseTheirReader, ACaptureFifoWhoseReaderLeavesIsMarkedForTheNextOne) {
    Conversation talk(model, kRetryLimit);
    talk.Settle();
    talk.Send(0x26);
    talk.Line("pause 3000");
    for (int i = 0; i < 5; ++i) talk.Send(0x26);
    HeadlessCopy copy(folder, "fifo");
    const fs::path fifo = copy.Dir / "capture.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto reader = OpenReader(fifo);
    copy.Extra = {"--quiet", "--capture", fifo.string()};
    ASSERT_TRUE(copy.Start(talk.Script)) << copy.Machine.Transcript() << folder.Errors();
    ASSERT_TRUE(LineWith(*reader, " RX ")) << "a frame on record\n" << folder.Errors();
    reader.reset();

    ControlClient client(copy.Control);
    const std::string gone = "its reader has gone away";
    EXPECT_NE(AlertUntil(client, [&](const std::string& A) {
                  return A.find(gone) != std::string::npos;
              }).find(gone),
              std::string::npos);
    EXPECT_TRUE(copy.Machine.AwaitExchanges(talk.Expected.size(), 60000))
        << copy.Machine.Transcript();

    // The next reader gets, before the next record, how many it missed and when.
    reader = OpenReader(fifo);
    EXPECT_TRUE(Field(client.Ask(R"({"cmd":"set-totals","totals":{}})"), "ok").toBool());
    const std::optional<std::string> mark = LineWith(*reader, "capture-lost | ");
    ASSERT_TRUE(mark) << folder.Errors();
    const std::string count = mark->substr(mark->find("capture-lost | ") + 15);
    EXPECT_GE(std::stoi(count), 1) << *mark;
    EXPECT_NE(mark->find(" | between "), std::string::npos) << *mark;
    EXPECT_EQ(AlertUntil(client, [](const std::string& A) { return A.empty(); }), "")
        << "cleared once the capture is written again";

    EXPECT_EQ(copy.Terminate(), 0) << folder.Errors();
    EXPECT_EQ(copy.MachineStatus, 0) << copy.Machine.Transcript();
}

TEST_F(OutputsThatLoseTheirReader, ACaptureFifoWithoutAReaderNeverHoldsUpTheEnd) {
    Conversation talk(model, kRetryLimit);
    talk.Settle();
    talk.Send(0x26);
    HeadlessCopy copy(folder, "unread");
    const fs::path fifo = copy.Dir / "capture.fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    copy.Extra = {"--quiet", "--capture", fifo.string()};
    ASSERT_TRUE(copy.Start(talk.Script)) << copy.Machine.Transcript() << folder.Errors();
    ASSERT_TRUE(copy.Machine.AwaitExchanges(talk.Expected.size(), 60000))
        << copy.Machine.Transcript();
    ASSERT_EQ(::kill(copy.Pid, SIGTERM), 0);
    EXPECT_EQ(WaitForExit(copy.Pid, 10000), 0) << folder.Errors();
    EXPECT_EQ(ReadWholeFile(copy.Dir / "COUNTERS.DAT"), CountersBytes(expected));
}

} // namespace
} // namespace volmar

// The control socket's path and clients as a hostile tester meets them:
// whatever stands at the path is kept unless it is a socket nobody answers
// on, a relative path is the working folder's, and a copy that runs out of
// descriptors keeps listening.
#include <gtest/gtest.h>

#include <QJsonObject>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e/headless_client.h"
#include "support/program_process.h"

namespace volmar {
namespace {

using namespace volmar::testing;

bool Served(ControlClient& Client, const std::string& Request) {
    return Client.Ask(Request).value(QLatin1String("ok")).toBool();
}

class ControlSocketEndToEnd : public ::testing::Test {
protected:
    void TearDown() override {
        for (pid_t& pid : copies) KillAndReap(pid);
    }

    // Starts a headless copy on a folder and a line of its own, listening at
    // Control; its index in copies.
    std::size_t Start(const std::string& Control, const std::string& Shell = {}) {
        lines.push_back(std::make_unique<RawLine>());
        const std::string dir = (folder.Dir / ("copy" + std::to_string(lines.size()))).string();
        copies.push_back(folder.Launch(kNoDisplay,
                                       {"--headless", "--quiet", "--folder", dir, "--port", "1",
                                        "--device", lines.back()->Device, "--control", Control},
                                       {}, Shell));
        return copies.size() - 1;
    }

    // A copy that may not listen at Control: its exit status and what it said.
    std::pair<std::optional<int>, std::string> Refused(const std::string& Control) {
        const std::size_t seen = folder.Errors().size();
        const std::size_t copy = Start(Control);
        const std::optional<int> status = WaitForExit(copies[copy], 15000);
        return {status, folder.Errors().substr(seen)};
    }

    ProgramFolder folder{VOLMARSIM_PATH, "volmarcontrol"};
    std::vector<std::unique_ptr<RawLine>> lines;
    std::vector<pid_t> copies;
};

TEST_F(ControlSocketEndToEnd, APathIsTakenOnlyWhenNothingOrAStaleSocketIsThere) {
    const fs::path precious = folder.Dir / "important.txt";
    std::ofstream(precious) << "precious\n";
    const auto [fileStatus, fileSaid] = Refused(precious);
    EXPECT_EQ(fileStatus, 3);
    EXPECT_NE(fileSaid.find(precious.string() + ": it is a file"), std::string::npos) << fileSaid;
    EXPECT_EQ(ReadWholeFile(precious), "precious\n");

    const fs::path missing = folder.Dir / "missing";
    const auto [missingStatus, missingSaid] = Refused(missing / "control");
    EXPECT_EQ(missingStatus, 3);
    EXPECT_NE(missingSaid.find("the folder " + missing.string() + " does not exist"),
              std::string::npos)
        << missingSaid;

    // A live copy keeps its socket: the second is refused, naming it.
    const fs::path shared = folder.Dir / "shared.sock";
    const std::size_t live = Start(shared);
    ControlClient first(shared);
    ASSERT_TRUE(first.Connected && Served(first, R"({"cmd":"status"})")) << folder.Errors();
    const pid_t livePid = copies[live];
    const auto [liveStatus, liveSaid] = Refused(shared);
    EXPECT_EQ(liveStatus, 3);
    EXPECT_NE(liveSaid.find("another copy (process " + std::to_string(livePid) +
                            ") listens at " + shared.string()),
              std::string::npos)
        << liveSaid;
    ControlClient later(shared);
    EXPECT_TRUE(later.Connected && Served(later, R"({"cmd":"status"})"))
        << "the first copy is still reached at its path";

    // Killed outright, it leaves its socket behind, which the next copy replaces.
    KillAndReap(copies[live]);
    ASSERT_TRUE(fs::is_socket(shared));
    Start(shared);
    ControlClient next(shared);
    EXPECT_TRUE(next.Connected && Served(next, R"({"cmd":"status"})")) << folder.Errors();

    // A relative path is the working folder's, as for every path option.
    const fs::path work = folder.Dir / "work";
    fs::create_directory(work);
    Start("relsock", "cd '" + work.string() + "'");
    ControlClient relative(work / "relsock");
    EXPECT_TRUE(relative.Connected && Served(relative, R"({"cmd":"status"})")) << folder.Errors();
}

TEST_F(ControlSocketEndToEnd, OutOfDescriptorsItPausesTakingClientsAndKeepsListening) {
    const fs::path path = folder.Dir / "control.sock";
    Start(path, "ulimit -n 48");
    const std::string stalled = "Cannot take a client at " + path.string();
    // Clients, each asking, until one is left waiting for a descriptor.
    std::vector<std::unique_ptr<ControlClient>> clients;
    bool waiting = false;
    while (!waiting) {
        ASSERT_LT(clients.size(), 64u) << "the copy never ran out\n" << folder.Errors();
        clients.push_back(std::make_unique<ControlClient>(path));
        ControlClient& client = *clients.back();
        ASSERT_TRUE(client.Connected) << folder.Errors();
        client.Send(R"({"cmd":"status"})");
        bool served = false;
        for (int i = 0; i < 300 && !served && !waiting; ++i) {
            served = !client.Next(50).isEmpty();
            waiting = !served && folder.Errors().find(stalled) != std::string::npos;
        }
        ASSERT_TRUE(served || waiting) << folder.Errors();
    }
    EXPECT_TRUE(fs::is_socket(path)) << "the socket stays";
    const QJsonObject status = clients.front()->Ask(R"({"cmd":"status"})");
    EXPECT_NE(status.value(QLatin1String("status"))
                  .toObject()
                  .value(QLatin1String("alert"))
                  .toString()
                  .toStdString()
                  .find(stalled),
              std::string::npos);

    // Clients that leave make room: the one waiting is served, and the alert goes.
    clients.erase(clients.begin(), clients.begin() + 3);
    ControlClient& waited = *clients.back();
    EXPECT_TRUE(waited.Next(15000).value(QLatin1String("ok")).toBool()) << folder.Errors();
    EXPECT_EQ(waited.Ask(R"({"cmd":"status"})")
                  .value(QLatin1String("status"))
                  .toObject()
                  .value(QLatin1String("alert"))
                  .toString(),
              QString());
}

} // namespace
} // namespace volmar

// A headless copy as a lab runs it: under systemd's eyes (its notify socket
// and its journal) and scraped by a real Prometheus, each on loopback only.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "e2e/conversation.h"
#include "e2e/headless_copy.h"
#include "e2e/line_model.h"
#include "support/notify_listener.h"

namespace volmar {
namespace {

using namespace volmar::testing;

// A loopback port no one listens on now.
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    ::close(fd);
    return ntohs(a.sin_port);
}

// The body of a GET on loopback; empty when there is no answer.
std::string Get(int Port, const std::string& Target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(Port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        const std::string request =
            "GET " + Target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[65536];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const std::size_t body = reply.find("\r\n\r\n");
    return reply.starts_with("HTTP/1.1 200") && body != std::string::npos ? reply.substr(body + 4)
                                                                           : std::string();
}

class LabServices : public ::testing::Test {
protected:
    ProgramFolder folder{VOLMARSIM_PATH, "volmarlab"};
};

TEST_F(LabServices, UnderSystemdReadyWatchdogStoppingAndJournalPriorities) {
    NotifyListener systemd(folder.Dir / "notify");
    ASSERT_TRUE(systemd.Bound);
    HeadlessCopy copy(folder, "machine1");
    // Standard error a file the journal would be reading.
    const fs::path journal = folder.Dir / "journal";
    copy.StderrFd = ::open(journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    struct stat st{};
    ::fstat(copy.StderrFd, &st);
    copy.Extra = {"--quiet"};
    copy.Env = {"NOTIFY_SOCKET=" + systemd.Path.string(), "WATCHDOG_USEC=200000",
                "JOURNAL_STREAM=" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)};
    TCounters counters{};
    LineModel model(counters);
    Conversation talk(model, kRetryLimit);
    talk.Settle();
    talk.Send(0x26);
    const bool started = copy.Start(talk.Script);
    ::close(copy.StderrFd);
    ASSERT_TRUE(started) << copy.Machine.Transcript();

    auto await = [&](const std::string& Line) {
        return systemd.Await([&](const std::string& M) { return Says(M, Line); }, 30000);
    };
    const std::optional<std::string> ready = await("READY=1");
    ASSERT_TRUE(ready);
    EXPECT_TRUE(Says(*ready, "STATUS=answering on COM1 (" + copy.Machine.Device + ")")) << *ready;
    EXPECT_TRUE(await("WATCHDOG=1"));
    EXPECT_EQ(copy.Terminate(), 0);
    EXPECT_TRUE(await("STOPPING=1"));
    const std::string written = ReadWholeFile(journal);
    EXPECT_NE(written.find("<6>volmarsim: settings and counters in "), std::string::npos) << written;
}

TEST_F(LabServices, PrometheusScrapesTheTotalsOfTwoCopies) {
    const char* prometheus = "/usr/bin/prometheus";
    ASSERT_EQ(::access(prometheus, X_OK), 0) << "scripts/setup-deps installs prometheus";
    TCounters expected[2]{};
    LineModel firstModel(expected[0]), secondModel(expected[1]);
    Conversation talks[2]{{firstModel, kRetryLimit}, {secondModel, kRetryLimit}};
    talks[0].Settle();
    talks[0].Send(0x69, {0x00, 0x0A});
    talks[0].Send(0x26);
    talks[1].Settle();
    talks[1].Send(0x69, {0x01, 0x00});
    talks[1].Send(0x69, {0x00, 0x05});

    HeadlessCopy copies[2]{{folder, "machine1"}, {folder, "machine2"}};
    int ports[2];
    for (int i = 0; i < 2; ++i) {
        ports[i] = FreePort();
        copies[i].Extra = {"--quiet", "--metrics", "127.0.0.1:" + std::to_string(ports[i])};
        ASSERT_TRUE(copies[i].Start(talks[i].Script)) << copies[i].Machine.Transcript();
    }
    for (int i = 0; i < 2; ++i)
        ASSERT_TRUE(copies[i].Machine.AwaitExchanges(talks[i].Expected.size(), 60000))
            << copies[i].Machine.Transcript();

    // The raw page, as promtool reads it.
    const std::string page = Get(ports[0], "/metrics");
    ASSERT_NE(page.find("volmarsim_meter{machine=\"machine1\",total=\"in\"} "), std::string::npos)
        << page;
    std::ofstream(folder.Dir / "page.txt") << page;
    const std::string check = "promtool check metrics < " + (folder.Dir / "page.txt").string() +
                              " > " + (folder.Dir / "promtool.out").string() + " 2>&1";
    EXPECT_EQ(std::system(check.c_str()), 0) << ReadWholeFile(folder.Dir / "promtool.out");
    EXPECT_EQ(ReadWholeFile(folder.Dir / "promtool.out"), "") << "not even a lint";

    const int web = FreePort();
    std::ofstream(folder.Dir / "prometheus.yml")
        << "global:\n  scrape_interval: 1s\nscrape_configs:\n  - job_name: volmarsim\n"
        << "    static_configs:\n      - targets: ['127.0.0.1:" << ports[0] << "', '127.0.0.1:"
        << ports[1] << "']\n";
    fs::create_directory(folder.Dir / "tsdb");
    const int log = ::open((folder.Dir / "prometheus.log").c_str(),
                           O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_t server = SpawnProcess(
        prometheus,
        {"--config.file=" + (folder.Dir / "prometheus.yml").string(),
         "--storage.tsdb.path=" + (folder.Dir / "tsdb").string(),
         "--web.listen-address=127.0.0.1:" + std::to_string(web)},
        ChildEnvironment({}), log, log);
    ::close(log);
    ASSERT_GT(server, 0);

    // Each copy's "in" total as Prometheus has it, once it has both.
    const std::string query =
        "/api/v1/query?query=" +
        QUrl::toPercentEncoding(QStringLiteral("volmarsim_meter{total=\"in\"}")).toStdString();
    std::map<std::string, std::string> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (got.size() < 2 && std::chrono::steady_clock::now() < end) {
        got.clear();
        const QJsonObject reply =
            QJsonDocument::fromJson(QByteArray::fromStdString(Get(web, query))).object();
        for (const QJsonValue& r : reply.value(QLatin1String("data")).toObject()
                                      .value(QLatin1String("result")).toArray()) {
            const QJsonObject o = r.toObject();
            got[o.value(QLatin1String("metric")).toObject().value(QLatin1String("machine"))
                    .toString().toStdString()] =
                o.value(QLatin1String("value")).toArray().at(1).toString().toStdString();
        }
        if (got.size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    KillAndReap(server);
    EXPECT_EQ(got, (std::map<std::string, std::string>{
                       {"machine1", std::to_string(expected[0].In)},
                       {"machine2", std::to_string(expected[1].In)}}))
        << ReadWholeFile(folder.Dir / "prometheus.log");
    EXPECT_NE(expected[0].In, expected[1].In) << "the two copies must be told apart";
    for (HeadlessCopy& copy : copies) EXPECT_EQ(copy.Terminate(), 0);
}

} // namespace
} // namespace volmar

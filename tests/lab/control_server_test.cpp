// The control socket's line protocol, its permissions, a client that stops
// reading, and more clients than it takes.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "lab/control_server.h"
#include "support/qt_pump.h"

namespace volmar {
namespace {

using testing::PumpUntil;

class ControlServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("control"));
        ASSERT_TRUE(server.Listen(path)) << server.ErrorText().toStdString();
    }
    // The reply lines a client gets for Lines.
    std::vector<QJsonObject> Ask(QLocalSocket& Client, const QByteArray& Lines, std::size_t Count) {
        Client.write(Lines);
        std::vector<QJsonObject> replies;
        PumpUntil([&] {
            while (Client.canReadLine()) replies.push_back(QJsonDocument::fromJson(Client.readLine()).object());
            return replies.size() >= Count;
        });
        return replies;
    }

    QTemporaryDir dir;
    QString path;
    int handled = 0;
    TControlServer server{[this](const QJsonObject& Request) {
        ++handled;
        if (Request.value(QStringLiteral("cmd")).toString() == QStringLiteral("subscribe")) {
            TControlServer::TReply reply = TControlServer::Ok();
            reply.Subscribe = true;
            return reply;
        }
        return TControlServer::Ok({{QStringLiteral("echo"), Request.value(QStringLiteral("cmd"))}});
    }};
};

TEST_F(ControlServerTest, EveryLineGetsOneReplyAndABadOneLeavesTheConnectionUsable) {
    QLocalSocket client;
    client.connectToServer(path);
    ASSERT_TRUE(client.waitForConnected(1000));
    const auto replies = Ask(client, "{\"cmd\":\"status\"}\nnot json\n[1]\n{\"cmd\":\"totals\"}\n", 4);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0].value(QStringLiteral("echo")).toString(), QStringLiteral("status"));
    EXPECT_FALSE(replies[1].value(QStringLiteral("ok")).toBool());
    EXPECT_FALSE(replies[1].value(QStringLiteral("error")).toString().isEmpty());
    EXPECT_FALSE(replies[2].value(QStringLiteral("ok")).toBool()) << "an array is no request";
    EXPECT_EQ(replies[3].value(QStringLiteral("echo")).toString(), QStringLiteral("totals"));
    EXPECT_EQ(handled, 2);

    struct stat node {};
    ASSERT_EQ(::stat(path.toLocal8Bit().constData(), &node), 0);
    EXPECT_EQ(node.st_mode & 077, 0u) << "this user's only";
}

TEST_F(ControlServerTest, ASubscriberThatNeverReadsIsDroppedAndOthersCarryOn) {
    // A raw client that subscribes and then never reads again.
    const int stuck = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.toLocal8Bit().constData());
    ASSERT_EQ(::connect(stuck, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::write(stuck, "{\"cmd\":\"subscribe\"}\n", 20), 20);
    ASSERT_TRUE(PumpUntil([&] { return handled == 1; }));

    QLocalSocket reader;
    reader.connectToServer(path);
    ASSERT_TRUE(reader.waitForConnected(1000));
    ASSERT_EQ(Ask(reader, "{\"cmd\":\"subscribe\"}\n", 1).size(), 1u);

    const QJsonObject event{{QStringLiteral("event"), QString(2000, QLatin1Char('x'))}};
    int got = 0;
    for (int i = 0; i < 2000; ++i) {
        server.Broadcast(event);
        PumpUntil([&] {
            while (reader.canReadLine()) got += !reader.readLine().isEmpty();
            return got > i;
        });
    }
    EXPECT_EQ(got, 2000) << "the reading subscriber got every event";
    EXPECT_EQ(server.ClientCount(), 1) << "the stuck one was dropped";
    ::close(stuck);
}

TEST_F(ControlServerTest, AClientBeyondTheLimitIsToldSoAndTheOthersAreServed) {
    std::vector<std::unique_ptr<QLocalSocket>> clients;
    const auto connectOne = [&] {
        clients.push_back(std::make_unique<QLocalSocket>());
        clients.back()->connectToServer(path);
        return clients.back()->waitForConnected(1000);
    };
    for (int i = 0; i < TControlServer::kMaxClients; ++i) ASSERT_TRUE(connectOne());
    ASSERT_TRUE(PumpUntil([&] { return server.ClientCount() == TControlServer::kMaxClients; }));

    ASSERT_TRUE(connectOne());
    const auto refused = Ask(*clients.back(), "{\"cmd\":\"status\"}\n", 1);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_FALSE(refused[0].value(QStringLiteral("ok")).toBool(true));
    EXPECT_TRUE(refused[0].value(QStringLiteral("error")).toString().startsWith(
        QStringLiteral("too many clients")));
    EXPECT_TRUE(PumpUntil(
        [&] { return clients.back()->state() == QLocalSocket::UnconnectedState; }));
    clients.pop_back();

    for (const std::size_t at : {std::size_t{0}, clients.size() - 1})
        EXPECT_EQ(Ask(*clients[at], "{\"cmd\":\"status\"}\n", 1).at(0).value(
                      QStringLiteral("echo")),
                  QStringLiteral("status"));
    // One leaves: a later client takes its place.
    clients.front()->abort();
    ASSERT_TRUE(PumpUntil([&] { return server.ClientCount() < TControlServer::kMaxClients; }));
    ASSERT_TRUE(connectOne());
    EXPECT_EQ(Ask(*clients.back(), "{\"cmd\":\"totals\"}\n", 1).at(0).value(
                  QStringLiteral("echo")),
              QStringLiteral("totals"));
}

} // namespace
} // namespace volmar

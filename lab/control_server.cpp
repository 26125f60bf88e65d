#include "lab/control_server.h"

#include <QJsonDocument>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "lab/json_line.h"

namespace volmar {

struct TControlServer::TClient {
    QLocalSocket* Socket = nullptr;
    bool Subscribed = false;
    bool Traffic = false;
    // Discarding the rest of a line that was too long.
    bool Skipping = false;
};

TControlServer::TControlServer(THandler Handler, QObject* Parent)
    : QObject(Parent), FHandler(std::move(Handler)) {
    FListener.OnClient = [this](int Fd) { Accept(Fd); };
    FListener.OnProblem = [this](const QString& Problem) {
        if (OnProblem) OnProblem(Problem);
    };
}

TControlServer::~TControlServer() {
    for (const int fd : FRefused) ::close(fd);
    for (const auto& client : FClients) {
        client->Socket->disconnect(this);
        client->Socket->abort();
    }
}

bool TControlServer::Listen(const QString& Path) {
    if (!FListener.Listen(Path, FError)) return false;
    FPath = Path;
    return true;
}

TControlServer::TReply TControlServer::Error(const QString& Text) {
    return {QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), Text}}, false};
}

TControlServer::TReply TControlServer::Ok(QJsonObject Body) {
    Body.insert(QStringLiteral("ok"), true);
    return {Body, false};
}

void TControlServer::Accept(int Fd) {
    if (ClientCount() >= kMaxClients) {
        Refuse(Fd);
        return;
    }
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(Fd)) {
        ::close(Fd);
        delete socket;
        return;
    }
    auto client = std::make_unique<TClient>();
    client->Socket = socket;
    FClients.push_back(std::move(client));
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Drop(socket); });
}

void TControlServer::Refuse(int Fd) {
    static const QByteArray refusal =
        QJsonDocument(
            Error(QStringLiteral("too many clients: at most %1 at once").arg(kMaxClients)).Body)
            .toJson(QJsonDocument::Compact) +
        '\n';
    // A fresh socket has room for one line.
    (void)::send(Fd, refusal.constData(), static_cast<std::size_t>(refusal.size()),
                 MSG_NOSIGNAL | MSG_DONTWAIT);
    // Closed at once, the socket would fail the client's own request with
    // a broken pipe before it reads the refusal; it sees the end after it.
    if (FRefused.size() >= kMaxRefused || ::shutdown(Fd, SHUT_WR) != 0) {
        ::close(Fd);
        return;
    }
    FRefused.push_back(Fd);
    QTimer::singleShot(kRefusedHoldMs, this, [this, Fd] {
        std::erase(FRefused, Fd);
        ::close(Fd);
    });
}

TControlServer::TClient* TControlServer::Find(QLocalSocket* Socket) const {
    const auto it = std::find_if(FClients.begin(), FClients.end(),
                                 [Socket](const auto& c) { return c->Socket == Socket; });
    return it == FClients.end() ? nullptr : it->get();
}

void TControlServer::ReadFrom(QLocalSocket* Socket) {
    // A command may let pending events run (Reset does): a line that comes
    // meanwhile waits its turn, so that replies keep their order.
    if (FBusy) {
        QMetaObject::invokeMethod(
            this, [this, Socket] { ReadFrom(Socket); }, Qt::QueuedConnection);
        return;
    }
    // The client may have gone since this was queued.
    while (TClient* client = Find(Socket)) {
        if (!Socket->canReadLine() && Socket->bytesAvailable() <= kMaxLine) return;
        if (!Socket->canReadLine()) {
            // No line end within the limit: refuse it and wait for its end.
            Socket->read(Socket->bytesAvailable());
            if (!client->Skipping) Send(*client, Error(QStringLiteral("request too long")).Body);
            client->Skipping = true;
            continue;
        }
        const QByteArray line = Socket->readLine().trimmed();
        if (client->Skipping) {
            client->Skipping = false;
            continue;
        }
        if (line.isEmpty()) continue;
        QString why;
        const std::optional<QJsonObject> request = ParseJsonObjectLine(line, why);
        TReply reply;
        if (!request) {
            reply = Error(why);
        } else {
            FBusy = true;
            reply = FHandler(*request);
            FBusy = false;
        }
        // The handler may have let the client's end go meanwhile.
        client = Find(Socket);
        if (!client) return;
        if (reply.Subscribe) client->Subscribed = true;
        if (reply.SubscribeTraffic) client->Traffic = true;
        Send(*client, reply.Body);
    }
}

void TControlServer::Send(TClient& Client, const QJsonObject& Object) {
    QByteArray line = QJsonDocument(Object).toJson(QJsonDocument::Compact);
    line.append('\n');
    Send(Client, line);
}

void TControlServer::Send(TClient& Client, const QByteArray& Line) {
    Client.Socket->write(Line);
    // A client that does not read keeps its bytes here: past the limit it
    // goes, so that it can never make the engine wait or grow without bound.
    if (Client.Socket->bytesToWrite() > kMaxBacklog) {
        QLocalSocket* socket = Client.Socket;
        socket->abort();
        Drop(socket);
    }
}

void TControlServer::Broadcast(const QJsonObject& Event) {
    QByteArray line = QJsonDocument(Event).toJson(QJsonDocument::Compact);
    line.append('\n');
    BroadcastTo([](const TClient& C) { return C.Subscribed; }, line);
}

void TControlServer::BroadcastTraffic(const QByteArray& Line) {
    BroadcastTo([](const TClient& C) { return C.Traffic; }, Line);
}

bool TControlServer::HasTrafficClients() const {
    return std::any_of(FClients.begin(), FClients.end(), [](const auto& c) { return c->Traffic; });
}

void TControlServer::BroadcastTo(bool (*Wants)(const TClient&), const QByteArray& Line) {
    // Send may drop a client: walk a copy of the list.
    std::vector<TClient*> wanting;
    for (const auto& client : FClients)
        if (Wants(*client)) wanting.push_back(client.get());
    for (TClient* client : wanting)
        if (std::any_of(FClients.begin(), FClients.end(),
                        [client](const auto& c) { return c.get() == client; }))
            Send(*client, Line);
}

void TControlServer::Drop(QLocalSocket* Socket) {
    const auto it = std::find_if(FClients.begin(), FClients.end(),
                                 [Socket](const auto& c) { return c->Socket == Socket; });
    if (it == FClients.end()) return;
    Socket->disconnect(this);
    Socket->deleteLater();
    FClients.erase(it);
}

} // namespace volmar

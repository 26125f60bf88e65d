#include "monitor/control_server.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <algorithm>

namespace volmar {

struct TControlServer::TClient {
    QLocalSocket* Socket = nullptr;
    bool Subscribed = false;
    // Discarding the rest of a line that was too long.
    bool Skipping = false;
};

TControlServer::TControlServer(THandler Handler, QObject* Parent)
    : QObject(Parent), FHandler(std::move(Handler)) {
    FServer.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&FServer, &QLocalServer::newConnection, this, [this] { Accept(); });
}

TControlServer::~TControlServer() {
    for (const auto& client : FClients) {
        client->Socket->disconnect(this);
        client->Socket->abort();
    }
}

bool TControlServer::Listen(const QString& Path) {
    // A socket file left by a copy that ended without removing it.
    QLocalServer::removeServer(Path);
    if (FServer.listen(Path)) return true;
    FError = QStringLiteral("Cannot listen at %1: %2").arg(Path, FServer.errorString());
    return false;
}

TControlServer::TReply TControlServer::Error(const QString& Text) {
    return {QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), Text}}, false};
}

TControlServer::TReply TControlServer::Ok(QJsonObject Body) {
    Body.insert(QStringLiteral("ok"), true);
    return {Body, false};
}

void TControlServer::Accept() {
    while (QLocalSocket* socket = FServer.nextPendingConnection()) {
        auto client = std::make_unique<TClient>();
        client->Socket = socket;
        FClients.push_back(std::move(client));
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { Drop(socket); });
    }
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
        QJsonParseError parse{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &parse);
        TReply reply;
        if (parse.error != QJsonParseError::NoError || !document.isObject()) {
            reply = Error(QStringLiteral("not a JSON object: ") + parse.errorString());
        } else {
            FBusy = true;
            reply = FHandler(document.object());
            FBusy = false;
        }
        // The handler may have let the client's end go meanwhile.
        client = Find(Socket);
        if (!client) return;
        if (reply.Subscribe) client->Subscribed = true;
        Send(*client, reply.Body);
    }
}

void TControlServer::Send(TClient& Client, const QJsonObject& Object) {
    QByteArray line = QJsonDocument(Object).toJson(QJsonDocument::Compact);
    line.append('\n');
    Client.Socket->write(line);
    // A client that does not read keeps its bytes here: past the limit it
    // goes, so that it can never make the engine wait or grow without bound.
    if (Client.Socket->bytesToWrite() > kMaxBacklog) {
        QLocalSocket* socket = Client.Socket;
        socket->abort();
        Drop(socket);
    }
}

void TControlServer::Broadcast(const QJsonObject& Event) {
    // Send may drop a client: walk a copy of the list.
    std::vector<TClient*> subscribed;
    for (const auto& client : FClients)
        if (client->Subscribed) subscribed.push_back(client.get());
    for (TClient* client : subscribed)
        if (std::any_of(FClients.begin(), FClients.end(),
                        [client](const auto& c) { return c.get() == client; }))
            Send(*client, Event);
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

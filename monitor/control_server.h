// A local control socket that speaks JSON lines: each request is one JSON
// object on a line, each gets one reply line; subscribers also get the
// engine's events as lines. Readable and writable by this user only; nothing
// listens on a network port. A client that stops reading is dropped rather
// than allowed to hold the engine up.
#pragma once

#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace volmar {

class TControlServer : public QObject {
public:
    // The answer to one request: a JSON object with "ok": true and what was
    // asked, or "ok": false and "error". Subscribe turns the client's event
    // stream on.
    struct TReply {
        QJsonObject Body;
        bool Subscribe = false;
    };
    using THandler = std::function<TReply(const QJsonObject& Request)>;

    // Longest request line taken; a longer one is answered with an error.
    static constexpr qint64 kMaxLine = 64 * 1024;
    // Unsent bytes a client may have before it is dropped.
    static constexpr qint64 kMaxBacklog = 1024 * 1024;

    explicit TControlServer(THandler Handler, QObject* Parent = nullptr);
    ~TControlServer() override;

    // Listens at Path, replacing a socket file left there by a copy that
    // is gone; false with ErrorText() when it cannot.
    bool Listen(const QString& Path);
    QString ErrorText() const { return FError; }
    QString Path() const { return FServer.fullServerName(); }

    // Sends Event to every subscribed client.
    void Broadcast(const QJsonObject& Event);
    int ClientCount() const { return static_cast<int>(FClients.size()); }

    static TReply Error(const QString& Text);
    static TReply Ok(QJsonObject Body = {});

private:
    struct TClient;
    void Accept();
    void ReadFrom(QLocalSocket* Socket);
    TClient* Find(QLocalSocket* Socket) const;
    void Send(TClient& Client, const QJsonObject& Object);
    void Drop(QLocalSocket* Socket);

    THandler FHandler;
    QLocalServer FServer;
    QString FError;
    std::vector<std::unique_ptr<TClient>> FClients;
    bool FBusy = false;
};

} // namespace volmar

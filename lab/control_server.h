// A local control socket that speaks JSON lines: each request is one JSON
// object on a line, each gets one reply line; subscribers also get the
// engine's events as lines, and traffic subscribers every traffic record. Readable and writable by this user only; nothing
// listens on a network port. A client that stops reading is dropped rather
// than allowed to hold the engine up, and clients past a limit are turned
// away, so that no number of them can use up the program's descriptors.
#pragma once

#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lab/socket_listener.h"

namespace volmar {

class TControlServer : public QObject {
public:
    // The answer to one request: a JSON object with "ok": true and what was
    // asked, or "ok": false and "error". Subscribe turns the client's event
    // stream on.
    struct TReply {
        QJsonObject Body;
        bool Subscribe = false;
        bool SubscribeTraffic = false;
    };
    using THandler = std::function<TReply(const QJsonObject& Request)>;

    // Longest request line taken; a longer one is answered with an error.
    static constexpr qint64 kMaxLine = 64 * 1024;
    // Unsent bytes a client may have before it is dropped.
    static constexpr qint64 kMaxBacklog = 1024 * 1024;
    // Clients at once; one more gets an error line and is closed.
    static constexpr int kMaxClients = 64;
    // Turned-away clients held for a moment, so that what they send meanwhile
    // does not spoil their reading of the refusal; more are closed at once.
    static constexpr std::size_t kMaxRefused = 16;
    static constexpr int kRefusedHoldMs = 1000;

    explicit TControlServer(THandler Handler, QObject* Parent = nullptr);
    ~TControlServer() override;

    // Listens at Path (absolute), replacing only a socket file left there
    // by a copy that is gone; false with ErrorText() when it cannot.
    bool Listen(const QString& Path);
    QString ErrorText() const { return FError; }
    QString Path() const { return FPath; }
    // New clients cannot be taken for now, or (empty) they can again.
    std::function<void(const QString& Problem)> OnProblem;

    // Sends Event to every subscribed client.
    void Broadcast(const QJsonObject& Event);
    // Sends Line, a JSON object ending in a newline, to every traffic subscriber.
    void BroadcastTraffic(const QByteArray& Line);
    bool HasTrafficClients() const;
    int ClientCount() const { return static_cast<int>(FClients.size()); }

    static TReply Error(const QString& Text);
    static TReply Ok(QJsonObject Body = {});

private:
    struct TClient;
    void Accept(int Fd);
    void Refuse(int Fd);
    void ReadFrom(QLocalSocket* Socket);
    TClient* Find(QLocalSocket* Socket) const;
    void Send(TClient& Client, const QJsonObject& Object);
    void Send(TClient& Client, const QByteArray& Line);
    // Sends Line to every client Wants.
    void BroadcastTo(bool (*Wants)(const TClient&), const QByteArray& Line);
    void Drop(QLocalSocket* Socket);

    THandler FHandler;
    TSocketListener FListener;
    QString FPath;
    QString FError;
    std::vector<std::unique_ptr<TClient>> FClients;
    std::vector<int> FRefused;
    bool FBusy = false;
};

} // namespace volmar

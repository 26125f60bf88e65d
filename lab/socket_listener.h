// The listening end of a local (Unix-domain) socket, owned here rather than
// by QLocalServer: it never takes over a path it did not make, names what
// stands in its way, keeps listening when descriptors run out, and removes
// at the end only the socket file it made.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <sys/types.h>

#include <functional>
#include <memory>

namespace volmar {

class TSocketListener : public QObject {
public:
    // How long accepting pauses when there is no descriptor for a client.
    static constexpr int kRetryMs = 1000;

    explicit TSocketListener(QObject* Parent = nullptr);
    ~TSocketListener() override;
    TSocketListener(const TSocketListener&) = delete;
    TSocketListener& operator=(const TSocketListener&) = delete;

    // Listens at Path (absolute), readable and writable by this user only.
    // Only a socket nobody answers on is replaced; false with Error naming
    // what is in the way, or why the socket could not be made.
    bool Listen(const QString& Path, QString& Error);

    // Each client's connected descriptor, non-blocking; the callee owns it.
    std::function<void(int Fd)> OnClient;
    // Clients cannot be taken for now (no descriptor is free), or, empty,
    // they can again.
    std::function<void(const QString& Problem)> OnProblem;

private:
    void Accept();

    QString FPath;
    int FFd = -1;
    // The socket file this listener made: removed at the end only if it is
    // still that one.
    dev_t FDevice = 0;
    ino_t FInode = 0;
    std::unique_ptr<QSocketNotifier> FNotifier;
    QTimer FRetry;
    bool FStalled = false;
};

} // namespace volmar

// One running copy per name (the program takes one per folder of files): a
// lock file marks the running copy, and a local socket beside it lets a later
// copy ask the running one to raise its window.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLockFile;
class QLocalServer;
class QLocalSocket;
class QWidget;

namespace volmar {

class TSingleInstance : public QObject {
public:
    // Name: the lock's name; the program's is InstanceName() of its files' folder.
    // Folder: where the lock file and the local socket live; empty = the user's
    // runtime folder (QStandardPaths::RuntimeLocation).
    explicit TSingleInstance(const QString& Name, const QString& Folder = QString(),
                             QObject* Parent = nullptr);
    // Stops listening and releases the lock.
    ~TSingleInstance() override;

    // Takes the lock. True: this is the only copy; it now listens for raise
    // requests. False: another copy runs; this call has asked it to raise its
    // window (waiting about a second at most) and returns. Later calls return
    // the first call's answer.
    bool IsFirst();

    // Called on the thread that owns this object (the UI thread) when a later
    // copy asks the running one to show itself.
    std::function<void()> OnRaiseRequest;

    // The running copy as "process N", once IsFirst has said false; empty
    // when the lock file does not tell.
    QString RunningCopy() const;

    QString LockPath() const { return FLockPath; }
    QString SocketPath() const { return FSocketPath; }

    // The request a later copy sends.
    static constexpr const char* RaiseRequest = "raise\n";

private:
    void AcceptConnections();
    void ReadRequest(QLocalSocket* Socket);
    void AskRunningCopy();

    QString FLockPath;
    QString FSocketPath;
    std::unique_ptr<QLockFile> FLock;
    QLocalServer* FServer = nullptr;
    int FAnswer = -1; // -1 not asked yet, 0 another copy runs, 1 first
};

// Brings a window to the front: restores it if minimised (keeping its
// maximised state), shows it, raises it and gives it the focus.
void RaiseWindow(QWidget* Window);

// A runtime folder of this user's own under Parent, for a session that
// names none: Parent/volmarsim-<uid>, made 0700 when missing. Empty when
// what is there is not a folder of this user's (a symbolic link, a file,
// another user's folder) or cannot be made private.
QString PrivateRuntimeFolder(const QString& Parent);

// With XDG_RUNTIME_DIR unset, sets it to PrivateRuntimeFolder under the
// temporary folder, so that Qt does not pick one itself and warn about it.
// Call it before the application object is made: that asks already.
void ChooseRuntimeFolder();

} // namespace volmar

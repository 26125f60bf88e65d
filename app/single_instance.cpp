#include "app/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace volmar {

namespace {

// How long a later copy tries to reach the running one, in all.
constexpr int AskTimeoutMs = 1000;

// A request line is short; anything longer is not ours.
constexpr qint64 MaxRequestLength = 64;

} // namespace

TSingleInstance::TSingleInstance(const QString& Name, const QString& Folder, QObject* Parent)
    : QObject(Parent) {
    QString folder = Folder;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    const QDir dir(folder);
    FLockPath = dir.filePath(Name + QStringLiteral(".lock"));
    FSocketPath = dir.filePath(Name + QStringLiteral(".socket"));
}

TSingleInstance::~TSingleInstance() {
    // Stop listening before the lock goes, so that a copy which gets the lock
    // next finds no live server at the socket path.
    if (FServer) {
        FServer->close();
        delete FServer;
        FServer = nullptr;
    }
    if (FLock) FLock->unlock();
}

bool TSingleInstance::IsFirst() {
    if (FAnswer >= 0) return FAnswer == 1;

    QDir().mkpath(QFileInfo(FLockPath).absolutePath());
    FLock = std::make_unique<QLockFile>(FLockPath);
    // A lock is stale only when the copy that wrote it is gone: a copy may run
    // for weeks, so the lock's age says nothing.
    FLock->setStaleLockTime(0);

    if (!FLock->tryLock(0)) {
        if (FLock->error() == QLockFile::LockFailedError) {
            FAnswer = 0;
            AskRunningCopy();
            return false;
        }
        // The folder is unusable: no other copy can be told apart, so run
        // rather than refuse to start without a word.
        qWarning("Single instance: cannot create the lock file %s",
                 qUtf8Printable(QDir::toNativeSeparators(FLockPath)));
        FAnswer = 1;
        return true;
    }

    FAnswer = 1;
    // A copy that crashed left its socket file behind; we hold the lock, so
    // nobody else can be listening there.
    QLocalServer::removeServer(FSocketPath);
    FServer = new QLocalServer;
    FServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(FServer, &QLocalServer::newConnection, this, [this] { AcceptConnections(); });
    if (!FServer->listen(FSocketPath))
        qWarning("Single instance: cannot listen on %s: %s",
                 qUtf8Printable(QDir::toNativeSeparators(FSocketPath)),
                 qUtf8Printable(FServer->errorString()));
    return true;
}

void TSingleInstance::AcceptConnections() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
        socket->setParent(this);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { ReadRequest(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The request may already be buffered.
        ReadRequest(socket);
    }
}

void TSingleInstance::ReadRequest(QLocalSocket* Socket) {
    if (!Socket->canReadLine()) {
        if (Socket->bytesAvailable() > MaxRequestLength) Socket->abort();
        return;
    }
    const QByteArray line = Socket->readLine(MaxRequestLength);
    Socket->disconnectFromServer();
    if (line == RaiseRequest && OnRaiseRequest) OnRaiseRequest();
}

QString TSingleInstance::RunningCopy() const {
    qint64 pid = 0;
    QString host, application;
    if (FAnswer != 0 || !FLock || !FLock->getLockInfo(&pid, &host, &application)) return {};
    return QStringLiteral("process %1").arg(pid);
}

void TSingleInstance::AskRunningCopy() {
    // The running copy may have taken the lock an instant ago and not be
    // listening yet, so try again until the time is up.
    const QDeadlineTimer deadline(AskTimeoutMs);
    QLocalSocket socket;
    while (true) {
        socket.connectToServer(FSocketPath);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) break;
        if (deadline.hasExpired()) return;
        socket.abort();
        QThread::msleep(20);
        if (deadline.hasExpired()) return;
    }
    socket.write(RaiseRequest);
    socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()));
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(static_cast<int>(deadline.remainingTime()));
}

void RaiseWindow(QWidget* Window) {
    if (!Window) return;
    if (Window->windowState() & Qt::WindowMinimized)
        Window->setWindowState(Window->windowState() & ~Qt::WindowMinimized);
    Window->show();
    Window->raise();
    Window->activateWindow();
}

QString PrivateRuntimeFolder(const QString& Parent) {
    const QByteArray path =
        QFile::encodeName(QDir(Parent).filePath(QStringLiteral("volmarsim-%1").arg(::getuid())));
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return {};
    // Whatever is there is looked at without following a link, so that a
    // folder planted in a shared /tmp by someone else is never used.
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return {};
    struct stat st{};
    const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::getuid() &&
                      ((st.st_mode & 077) == 0 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return ours ? QFile::decodeName(path) : QString();
}

void ChooseRuntimeFolder() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    const QString folder = PrivateRuntimeFolder(QDir::tempPath());
    if (!folder.isEmpty()) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
}

} // namespace volmar

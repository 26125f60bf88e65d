#include "lab/socket_listener.h"

#include <QFile>
#include <QFileInfo>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "dataport/file_store.h"

namespace volmar {

namespace {

// A descriptor closed when it goes out of scope, unless released.
class TFd {
public:
    explicit TFd(int Fd) : Fd(Fd) {}
    ~TFd() {
        if (Fd >= 0) ::close(Fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Release() { return std::exchange(Fd, -1); }
    int Fd;
};

// Who answers at the socket Address: the process that listens (0 when it
// is too busy to say), nothing when nobody does; Errno for anything else.
std::optional<pid_t> Listener(const sockaddr_un& Address, int& Errno) {
    const TFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    Errno = 0;
    if (probe.Fd < 0) {
        Errno = errno;
        return std::nullopt;
    }
    if (::connect(probe.Fd, reinterpret_cast<const sockaddr*>(&Address), sizeof Address) != 0) {
        // A full backlog: somebody listens, too busy to take another.
        if (errno == EAGAIN) return 0;
        if (errno != ECONNREFUSED && errno != ENOENT) Errno = errno;
        return std::nullopt;
    }
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(probe.Fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return 0;
    return peer.pid;
}

// Why nothing may listen at Path, empty when something may: nothing is
// there, or a socket of this user's that nobody answers on, which goes.
QString Obstacle(const QString& Path, const sockaddr_un& Address) {
    const auto refused = [&](const QString& Why) {
        return QStringLiteral("Cannot listen at %1: %2").arg(Path, Why);
    };
    struct stat node {};
    if (::lstat(Address.sun_path, &node) != 0) {
        if (errno != ENOENT && errno != ENOTDIR) return refused(qt_error_string(errno));
        const QString folder = QFileInfo(Path).path();
        struct stat parent {};
        if (::stat(QFile::encodeName(folder).constData(), &parent) != 0)
            return refused(errno == ENOENT || errno == ENOTDIR
                               ? QStringLiteral("the folder %1 does not exist").arg(folder)
                               : qt_error_string(errno));
        if (!S_ISDIR(parent.st_mode)) return refused(QStringLiteral("%1 is no folder").arg(folder));
        return {};
    }
    if (!S_ISSOCK(node.st_mode))
        return refused(QStringLiteral("it is %1; only a socket left by a copy that has ended "
                                      "is replaced")
                           .arg(QLatin1String(FileKind(node.st_mode))));
    if (node.st_uid != ::geteuid())
        return refused(QStringLiteral("it is the socket of another user (uid %1)").arg(node.st_uid));
    int error = 0;
    if (const std::optional<pid_t> pid = Listener(Address, error))
        return *pid > 0 ? QStringLiteral("another copy (process %1) listens at %2").arg(*pid).arg(Path)
                        : QStringLiteral("another copy listens at %1").arg(Path);
    if (error != 0) return refused(qt_error_string(error));
    // Left by a copy that has ended.
    if (::unlink(Address.sun_path) != 0 && errno != ENOENT)
        return refused(QStringLiteral("the socket left there cannot be removed: ") +
                       qt_error_string(errno));
    return {};
}

} // namespace

TSocketListener::TSocketListener(QObject* Parent) : QObject(Parent) {
    FRetry.setSingleShot(true);
    FRetry.setInterval(kRetryMs);
    connect(&FRetry, &QTimer::timeout, this, [this] { Accept(); });
}

TSocketListener::~TSocketListener() {
    FNotifier.reset();
    if (FFd < 0) return;
    // Another copy may have put its own socket here since: that one stays.
    struct stat node {};
    const QByteArray path = QFile::encodeName(FPath);
    if (::lstat(path.constData(), &node) == 0 && S_ISSOCK(node.st_mode) &&
        node.st_dev == FDevice && node.st_ino == FInode)
        ::unlink(path.constData());
    ::close(FFd);
}

bool TSocketListener::Listen(const QString& Path, QString& Error) {
    const QByteArray local = QFile::encodeName(Path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (local.size() >= static_cast<qsizetype>(sizeof address.sun_path)) {
        Error = QStringLiteral("Cannot listen at %1: the path is longer than a socket's %2 bytes")
                    .arg(Path)
                    .arg(sizeof address.sun_path - 1);
        return false;
    }
    std::memcpy(address.sun_path, local.constData(), static_cast<std::size_t>(local.size()));
    Error = Obstacle(Path, address);
    if (!Error.isEmpty()) return false;

    TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const auto failed = [&](int Errno) {
        Error = QStringLiteral("Cannot listen at %1: %2").arg(Path, qt_error_string(Errno));
        return false;
    };
    if (fd.Fd < 0) return failed(errno);
    if (::bind(fd.Fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        // Another copy may have come in between.
        if (error == EADDRINUSE) Error = Obstacle(Path, address);
        return Error.isEmpty() ? failed(error) : false;
    }
    // Nobody can connect before listen(), so the file is this user's only
    // before anyone may use it.
    struct stat made {};
    if (::chmod(local.constData(), S_IRUSR | S_IWUSR) != 0 || ::lstat(local.constData(), &made) != 0 ||
        ::listen(fd.Fd, SOMAXCONN) != 0) {
        const int error = errno;
        ::unlink(local.constData());
        return failed(error);
    }
    FPath = Path;
    FDevice = made.st_dev;
    FInode = made.st_ino;
    FFd = fd.Release();
    FNotifier = std::make_unique<QSocketNotifier>(FFd, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
    return true;
}

void TSocketListener::Accept() {
    for (;;) {
        const int client = ::accept4(FFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client >= 0) {
            if (FStalled) {
                FStalled = false;
                if (OnProblem) OnProblem(QString());
            }
            if (OnClient)
                OnClient(client);
            else
                ::close(client);
            continue;
        }
        const int error = errno;
        if (error == EINTR || error == ECONNABORTED) continue;
        // accept() wants a free descriptor before it looks for a client, so
        // without one it fails even when nobody is waiting.
        pollfd waiting{FFd, POLLIN, 0};
        if (error == EAGAIN || error == EWOULDBLOCK || ::poll(&waiting, 1, 0) == 0) {
            FNotifier->setEnabled(true);
            return;
        }
        // No descriptor is free (or no memory): the client waits in the
        // backlog while accepting pauses, rather than spin on it or give up.
        FNotifier->setEnabled(false);
        FRetry.start();
        if (FStalled) return;
        FStalled = true;
        if (OnProblem)
            OnProblem(QStringLiteral("Cannot take a client at %1: %2; trying again every second")
                          .arg(FPath, qt_error_string(error)));
        return;
    }
}

} // namespace volmar

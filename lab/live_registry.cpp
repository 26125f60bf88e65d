#include "lab/live_registry.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace volmar {

namespace {

namespace fs = std::filesystem;

constexpr char kPrefix[] = "volmarsim-";

} // namespace

QString LiveRegistryFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QDir::isAbsolutePath(QString::fromLocal8Bit(runtime))) return {};
    return QString::fromLocal8Bit(runtime) + QStringLiteral("/volmarsim");
}

QString RegisterLiveSocket(const QString& Socket) {
    const QString folder = LiveRegistryFolder();
    if (folder.isEmpty()) return {};
    const QByteArray dir = QFile::encodeName(folder);
    ::mkdir(dir.constData(), 0700);
    // Only a folder of this user's own, that no one else may write, holds the links.
    struct stat st {};
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 022) != 0)
        return {};
    const QString link = folder + QLatin1Char('/') + QLatin1String(kPrefix) +
                         QString::number(::getpid());
    std::error_code ec;
    // A link left by a copy that had this process number before.
    if (fs::is_symlink(fs::symlink_status(link.toStdString(), ec))) fs::remove(link.toStdString(), ec);
    fs::create_symlink(Socket.toStdString(), link.toStdString(), ec);
    return ec ? QString() : link;
}

void UnregisterLiveSocket(const QString& Link) {
    std::error_code ec;
    if (!Link.isEmpty() && fs::is_symlink(fs::symlink_status(Link.toStdString(), ec)))
        fs::remove(Link.toStdString(), ec);
}

std::vector<TLiveSocket> LiveSockets() {
    std::vector<TLiveSocket> found;
    const QString folder = LiveRegistryFolder();
    if (folder.isEmpty()) return found;
    const QDir dir(folder);
    for (const QFileInfo& link :
         dir.entryInfoList({QLatin1String(kPrefix) + QLatin1Char('*')}, QDir::System, QDir::Name)) {
        if (!link.isSymLink()) continue;
        const QString socket = link.symLinkTarget();
        std::error_code ec;
        if (fs::status(socket.toStdString(), ec).type() != fs::file_type::socket) continue;
        found.push_back({link.fileName(), socket});
    }
    return found;
}

} // namespace volmar

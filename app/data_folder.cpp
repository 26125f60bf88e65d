#include "app/data_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace volmar {

bool UserMayWrite(const QString& Folder) {
    // access() also says no for a read-only mount, which the mode bits do not show.
    return ::access(QFile::encodeName(Folder).constData(), W_OK | X_OK) == 0;
}

namespace {
// An installed program's folder is the system's, even for root, who may write it.
bool InstalledFolder(const QString& Folder) {
    const QString clean = QDir::cleanPath(QDir(Folder).absolutePath());
    return clean.startsWith(QStringLiteral("/usr/")) || clean.startsWith(QStringLiteral("/opt/")) ||
           clean == QStringLiteral("/bin") || clean == QStringLiteral("/sbin");
}
} // namespace

TDataFolder ChooseDataFolder(const QString& Named, const QString& ProgramFolder,
                             const QString& PerUserFolder,
                             const std::function<bool(const QString&)>& MayWrite) {
    TDataFolder choice;
    if (!Named.isEmpty()) {
        choice.Path = Named;
    } else if (MayWrite(ProgramFolder) && !InstalledFolder(ProgramFolder)) {
        choice.Path = ProgramFolder;
    } else {
        choice.Path = PerUserFolder;
        choice.PerUser = true;
    }
    choice.Path = QDir::cleanPath(QDir(choice.Path).absolutePath());
    const QByteArray path = QFile::encodeName(choice.Path);
    const QString shown = QDir::toNativeSeparators(choice.Path);
    std::error_code made;
    std::filesystem::create_directories(path.constData(), made);
    if (made) {
        choice.Error = QStringLiteral("the folder %1 cannot be made: %2")
                           .arg(shown, QString::fromLocal8Bit(made.message().c_str()));
    } else if (!MayWrite(choice.Path)) {
        const int why = ::access(path.constData(), W_OK | X_OK) == 0 ? EACCES : errno;
        choice.Error = QStringLiteral("the folder %1 cannot be written: %2")
                           .arg(shown, QString::fromLocal8Bit(std::strerror(why)));
    }
    return choice;
}

QString PerUserDataFolder() {
    // Data rather than configuration: the counters file is the machine's
    // record, which must outlive a reset of the user's configuration, and
    // the settings file stays beside it as in the program's own folder.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/volmarsim");
}

QString InstanceName(const QString& Folder) {
    QString path = QFileInfo(Folder).canonicalFilePath();
    if (path.isEmpty()) path = QDir::cleanPath(QDir(Folder).absolutePath());
    // A digest keeps the lock's and the socket's names short whatever the path.
    const QByteArray digest =
        QCryptographicHash::hash(QFile::encodeName(path), QCryptographicHash::Sha256);
    return QStringLiteral("volmarsim-") + QString::fromLatin1(digest.toHex().left(16));
}

} // namespace volmar

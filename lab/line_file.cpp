#include "lab/line_file.h"

#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>

#include "dataport/file_store.h"
#include "lab/json_line.h"

namespace volmar {

namespace {
// More than any list a person writes.
constexpr qsizetype kMaxBytes = 16 * 1024 * 1024;
} // namespace

std::optional<QByteArray> ReadLineFile(const QString& Path, QString& Error) {
    const QByteArray local = QFile::encodeName(Path);
    const auto refused = [&](const QString& Why) {
        Error = QStringLiteral("Cannot read %1: %2").arg(Path, Why);
        return std::nullopt;
    };
    struct stat node {};
    if (::stat(local.constData(), &node) != 0) return refused(qt_error_string(errno));
    if (!S_ISREG(node.st_mode) && !S_ISFIFO(node.st_mode))
        return refused(QStringLiteral("it is %1").arg(QLatin1String(FileKind(node.st_mode))));
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int fd = ::open(local.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return refused(qt_error_string(errno));
    struct stat opened {};
    const bool pipe = ::fstat(fd, &opened) == 0 && S_ISFIFO(opened.st_mode);
    if (!pipe && !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return refused(QStringLiteral("it is %1").arg(QLatin1String(FileKind(opened.st_mode))));
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kLineFilePipeWaitMs);
    QByteArray bytes;
    std::array<char, 64 * 1024> chunk{};
    bool written = false;
    for (;;) {
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n > 0) {
            written = true;
            bytes.append(chunk.data(), n);
            if (bytes.size() <= kMaxBytes) continue;
            ::close(fd);
            return refused(QStringLiteral("longer than 16 MiB"));
        }
        if (n == 0) break;
        const int error = errno;
        if (error == EINTR) continue;
        if (error != EAGAIN) {
            ::close(fd);
            return refused(qt_error_string(error));
        }
        // A writer has the pipe open and has not finished yet.
        written = true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        pollfd wait{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&wait, 1, static_cast<int>(left)) == 0) {
            ::close(fd);
            return refused(QStringLiteral("its writer did not finish within %1 s")
                               .arg(kLineFilePipeWaitMs / 1000));
        }
    }
    ::close(fd);
    // An empty pipe reads as its end at once when nobody has it open to write.
    if (pipe && !written) {
        Error = QStringLiteral("nobody writes to %1").arg(Path);
        return std::nullopt;
    }
    return bytes;
}

bool TakeJsonLines(const QByteArray& Text, const QString& Name,
                   const std::function<bool(const QJsonObject& Object, int Line, QString& Why)>& Take,
                   QString& Error) {
    int number = 0;
    for (const QByteArray& raw : Text.split('\n')) {
        ++number;
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        QString why;
        const std::optional<QJsonObject> object = ParseJsonObjectLine(line, why);
        if (!object || !Take(*object, number, why)) {
            Error = QStringLiteral("%1 line %2: %3").arg(Name).arg(number).arg(why);
            return false;
        }
    }
    return true;
}

} // namespace volmar

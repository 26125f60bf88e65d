#include "dataport/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace volmar {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxLinkHops = 40;  // as the kernel follows them
constexpr std::size_t kReadChunk = 64 * 1024;
constexpr char kRandomPart[] = "XXXXXX";
constexpr int kMaxAsideCopies = 999;

fs::path Folder(const fs::path& File) {
    return File.has_parent_path() ? File.parent_path() : fs::path(".");
}

// ".<name>.tmp-": a name no one gives a file of their own, tied to the file it replaces.
std::string TemporaryPrefix(const fs::path& File) {
    // Appended, not "." + ...: GCC 12 at -O3 warns falsely (-Wrestrict)
    // about a literal put before a temporary string.
    std::string prefix = ".";
    prefix += File.filename().string();
    prefix += ".tmp-";
    return prefix;
}

bool IsTemporaryName(const std::string& Name, const std::string& Prefix) {
    // mkstemp fills in ASCII letters and digits only.
    const auto random = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    return Name.size() == Prefix.size() + sizeof kRandomPart - 1 && Name.starts_with(Prefix) &&
           std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), Name.end(),
                       random);
}

// Where a chain of symbolic links ends; that file need not exist.
fs::path FinalTarget(fs::path File, std::error_code& Error) {
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        const fs::file_status status = fs::symlink_status(File, Error);
        if (status.type() == fs::file_type::not_found) Error.clear();
        if (Error || status.type() != fs::file_type::symlink) return File;
        const fs::path next = fs::read_symlink(File, Error);
        if (Error) return File;
        File = next.is_absolute() ? next : File.parent_path() / next;
    }
    Error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return File;
}

EFileStoreError CannotOpen(const std::string& Path, const char* Why = "") {
    return EFileStoreError("Cannot open file " + Path + Why);
}

bool WriteAll(int Fd, std::string_view Bytes) {
    while (!Bytes.empty()) {
        const ssize_t n = ::write(Fd, Bytes.data(), Bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        Bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Makes the folder's entries, a rename among them, survive a power cut.
bool SyncFolder(const fs::path& Dir) {
    const int fd = ::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    // EINVAL: a file system that has nothing to sync for a folder.
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
    ::close(fd);
    return synced;
}

void RemoveTemporariesOf(const fs::path& File) {
    const std::string prefix = TemporaryPrefix(File);
    std::error_code error;
    for (fs::directory_iterator entry(Folder(File), error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code ignored;
        if (IsTemporaryName(entry->path().filename().string(), prefix) &&
            entry->symlink_status(ignored).type() == fs::file_type::regular)
            fs::remove(entry->path(), ignored);
    }
}

// 0, or the errno of the failure: EEXIST when To is taken.
int RenameWithoutReplacing(const std::string& From, const std::string& To) {
    if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system that cannot rename that way still refuses a new link on a taken name.
    if (::link(From.c_str(), To.c_str()) != 0) return errno;
    ::unlink(From.c_str());
    return 0;
}

} // namespace

std::optional<std::string> ReadRegularFile(const std::string& Path, std::size_t Limit) {
    // The type is checked before opening: opening a device can itself do something.
    std::error_code error;
    const fs::file_status status = fs::status(Path, error);
    if (status.type() == fs::file_type::not_found) return std::nullopt;
    if (error) throw CannotOpen(Path);
    if (status.type() != fs::file_type::regular) throw CannotOpen(Path, ": not a regular file");

    // Should something else have taken the file's place since, it is not waited on either.
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        throw CannotOpen(Path);
    }
    struct stat opened {};
    const bool regular = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    bool failed = false;
    std::string bytes;
    while (regular && !failed && bytes.size() < Limit) {
        const std::size_t had = bytes.size();
        bytes.resize(had + std::min(Limit - had, kReadChunk));
        const ssize_t n = ::read(fd, bytes.data() + had, bytes.size() - had);
        bytes.resize(had + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
        if (n == 0) break;
        failed = n < 0 && errno != EINTR;
    }
    ::close(fd);
    if (!regular) throw CannotOpen(Path, ": not a regular file");
    if (failed) throw CannotOpen(Path);
    return bytes;
}

const char* FileKind(mode_t Mode) {
    using fs::file_type;
    const file_type type = S_ISREG(Mode)    ? file_type::regular
                           : S_ISDIR(Mode)  ? file_type::directory
                           : S_ISLNK(Mode)  ? file_type::symlink
                           : S_ISFIFO(Mode) ? file_type::fifo
                           : S_ISSOCK(Mode) ? file_type::socket
                           : S_ISCHR(Mode)  ? file_type::character
                           : S_ISBLK(Mode)  ? file_type::block
                                            : file_type::unknown;
    return FileTypeName(type);
}

void ReplaceFile(const std::string& Path, std::string_view Bytes) {
    std::error_code error;
    const fs::path target = FinalTarget(Path, error);
    std::error_code missing;
    if (const fs::file_type type = fs::symlink_status(target, missing).type();
        !error && !missing && type != fs::file_type::regular)
        throw EFileStoreError("Unable to write to " + Path);
    std::string temporary = (Folder(target) / (TemporaryPrefix(target) + kRandomPart)).string();
    const int fd = error ? -1 : ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) throw EFileStoreError("Cannot create file " + Path);

    struct stat old {};
    const mode_t mode =
        ::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 0777 : 0644;
    bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, Bytes) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw EFileStoreError("Unable to write to " + Path);
    }
    if (!SyncFolder(Folder(target))) throw EFileStoreError("Unable to write to " + Path);
}

const char* FileTypeName(fs::file_type Type) {
    switch (Type) {
    case fs::file_type::regular: return "a file";
    case fs::file_type::directory: return "a folder";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::character: return "a character device";
    case fs::file_type::block: return "a block device";
    case fs::file_type::socket: return "a socket";
    case fs::file_type::symlink: return "a symbolic link";
    default: return "no regular file";
    }
}

void RemoveLeftoverTemporaries(const std::string& Path) {
    RemoveTemporariesOf(Path);
    std::error_code error;
    const fs::path target = FinalTarget(Path, error);
    if (!error && target != fs::path(Path)) RemoveTemporariesOf(target);
}

std::string KeepAside(const std::string& Path, const std::string& Why, std::time_t When) {
    std::tm local{};
    char stamp[sizeof "YYYYMMDD-HHMMSS"];
    if (!::localtime_r(&When, &local) ||
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local) == 0)
        throw EFileStoreError("Cannot keep " + Path + " aside: the time has no date");
    const std::string first = Path + "." + Why + "-" + stamp;
    for (int copy = 1; copy <= kMaxAsideCopies; ++copy) {
        const std::string aside = copy == 1 ? first : first + "-" + std::to_string(copy);
        const int failure = RenameWithoutReplacing(Path, aside);
        if (failure == 0) {
            // Unchecked: the next save into this folder flushes it as well.
            SyncFolder(Folder(Path));
            return aside;
        }
        if (failure != EEXIST)
            throw EFileStoreError("Cannot keep " + Path + " aside as " + aside + ": " +
                                  std::generic_category().message(failure));
    }
    throw EFileStoreError("Cannot keep " + Path + " aside: " + first + " and " +
                          std::to_string(kMaxAsideCopies - 1) + " more copies are there already");
}

} // namespace volmar

// Scratch folders, and faults a file test can bring about on any machine, as
// root too (where permissions stop nothing).
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>

namespace volmar::test {

// A new folder under the temporary directory, removed with all it holds.
class TScratchFolder {
public:
    TScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "volmarXXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::system_error(errno, std::generic_category(), "mkdtemp " + pattern);
        FPath = pattern;
    }
    ~TScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(FPath, ignored);
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

private:
    std::filesystem::path FPath;
};

// While it lives, the soft limit on Resource is Value: with RLIMIT_FSIZE a
// file cannot grow past Value bytes (EFBIG, as on a full disk). (Not
// RLIMIT_NOFILE: the sanitizers need descriptors of their own.)
class TResourceLimit {
public:
    TResourceLimit(int Resource, rlim_t Value)
        : FResource(Resource), FHandler(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(FResource, &FSaved);
        rlimit lowered = FSaved;
        lowered.rlim_cur = Value;
        ::setrlimit(FResource, &lowered);
    }
    ~TResourceLimit() {
        ::setrlimit(FResource, &FSaved);
        std::signal(SIGXFSZ, FHandler);
    }
    TResourceLimit(const TResourceLimit&) = delete;
    TResourceLimit& operator=(const TResourceLimit&) = delete;

private:
    int FResource;
    rlimit FSaved{};
    void (*FHandler)(int);
};

// The text of the Error that Save raises while Resource is limited to Value;
// empty when it raises nothing.
template <class Error, class Action>
std::string ErrorUnderLimit(int Resource, rlim_t Value, Action&& Save) {
    const TResourceLimit limit(Resource, Value);
    try {
        Save();
    } catch (const Error& e) {
        return e.what();
    }
    return {};
}

// A FIFO at Path with a writer waiting to open it: code that opens it to read
// and waits is let go with an end of file, so a test fails instead of hanging.
class TFifo {
public:
    explicit TFifo(std::string Path) : FPath(std::move(Path)) {
        if (::mkfifo(FPath.c_str(), 0600) != 0)
            throw std::system_error(errno, std::generic_category(), "mkfifo " + FPath);
        FWriter = std::thread([this] {
            const int fd = ::open(FPath.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        });
    }
    ~TFifo() {
        // A reader of our own lets the writer through when nothing else opened the FIFO.
        const int reader = ::open(FPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        FWriter.join();
        if (reader >= 0) ::close(reader);
    }
    TFifo(const TFifo&) = delete;
    TFifo& operator=(const TFifo&) = delete;

private:
    std::string FPath;
    std::thread FWriter;
};

} // namespace volmar::test

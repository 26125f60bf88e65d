// A notify socket as systemd listens on one: a unix datagram socket at a
// path, each datagram one message of "NAME=value" lines.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace volmar::testing {

class NotifyListener {
public:
    explicit NotifyListener(const std::filesystem::path& Path) : Path(Path) {
        FFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, Path.c_str(), sizeof address.sun_path - 1);
        Bound = ::bind(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifyListener() { ::close(FFd); }
    NotifyListener(const NotifyListener&) = delete;
    NotifyListener& operator=(const NotifyListener&) = delete;

    // The next datagram within TimeoutMs (0: only one already there).
    std::optional<std::string> Next(int TimeoutMs) const {
        pollfd p{FFd, POLLIN, 0};
        if (::poll(&p, 1, TimeoutMs) <= 0) return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(FFd, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }

    // The first datagram that Wanted takes, within TimeoutMs; Wait runs
    // between looks (a test's event loop).
    std::optional<std::string> Await(const std::function<bool(const std::string&)>& Wanted,
                                     int TimeoutMs, const std::function<void()>& Wait = {}) const {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (Wait) Wait();
            while (const std::optional<std::string> got = Next(Wait ? 0 : 20))
                if (Wanted(*got)) return got;
        }
        return std::nullopt;
    }

    const std::filesystem::path Path;
    bool Bound = false;

private:
    int FFd = -1;
};

inline bool Says(const std::string& Message, const std::string& Line) {
    return ("\n" + Message + "\n").find("\n" + Line + "\n") != std::string::npos;
}

} // namespace volmar::testing

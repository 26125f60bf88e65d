// What a headless copy runs in, and a client of its control socket as a
// script would be one.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/machine_session.h"

namespace volmar::testing {

// Headless must never reach for a display.
inline const std::vector<std::string> kNoDisplay{"QT_QPA_PLATFORM=", "DISPLAY=",
                                                 "WAYLAND_DISPLAY="};

// An empty object for a line that is no JSON object.
inline QJsonObject ParseLine(const std::string& Line) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(Line)).object();
}

// The socket is there only once the copy has opened its port, so
// connecting tries for a while.
class ControlClient {
public:
    explicit ControlClient(const fs::path& Path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, Path.c_str(), sizeof address.sun_path - 1);
        for (int i = 0; i < 1500 && !Connected; ++i) {
            if (FFd >= 0) ::close(FFd);
            FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            Connected = ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            if (!Connected) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        FReader = std::make_unique<LineReader>(FFd);
    }

    void Send(const std::string& Line) {
        const std::string s = Line + "\n";
        ::send(FFd, s.data(), s.size(), MSG_NOSIGNAL);
    }
    // The next line; empty when none comes within the time.
    QJsonObject Next(int TimeoutMs = 30000) {
        return ParseLine(FReader->Next(TimeoutMs).value_or(""));
    }

    // The reply to Request, passing over the events of a subscription.
    QJsonObject Ask(const std::string& Request) {
        Send(Request);
        for (;;) {
            const QJsonObject line = Next();
            if (line.isEmpty() || line.contains(QLatin1String("ok"))) return line;
        }
    }

    bool Connected = false;

private:
    int FFd = -1;
    std::unique_ptr<LineReader> FReader;
};

} // namespace volmar::testing

#include "lab/service_notifier.h"

#include <QtGlobal>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "monitor/monitor.h"

namespace volmar {

namespace {

QString PortText(quint16 Number, const QString& Path) {
    return QStringLiteral("COM%1 (%2)").arg(Number).arg(Path);
}

} // namespace

TServiceNotifier::TServiceNotifier(TMonitor& Monitor, const QString& Socket, qint64 WatchdogUs)
    : FMonitor(Monitor), FAddress(Socket.toLocal8Bit().toStdString()) {
    // Non-blocking: a manager that does not read must never hold the engine up.
    FFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);

    // Ready once the engine's loop runs, not when its start-up merely ended:
    // a run that gives up before then was never ready.
    connect(&Monitor, &TMonitor::StartedUp, this, [this] {
        QTimer::singleShot(0, this, [this] {
            const TComPortPlus& port = FMonitor.ComPortPlus();
            const QString path = QString::fromLocal8Bit(port.DevicePath().c_str());
            Notify("READY=1\nSTATUS=" +
                   (port.Open() ? QStringLiteral("answering on %1")
                                : QStringLiteral("waiting for %1"))
                       .arg(PortText(port.ComNumber(), path))
                       .toStdString());
        });
    });
    connect(&Monitor, &TMonitor::PortOpened, this, [this](quint16 Number, const QString& Path) {
        Status(QStringLiteral("answering on %1").arg(PortText(Number, Path)));
    });
    connect(&Monitor, &TMonitor::DeviceBack, this, [this](quint16 Number, const QString& Path) {
        Status(QStringLiteral("answering on %1").arg(PortText(Number, Path)));
    });
    connect(&Monitor, &TMonitor::PortClosed, this, [this](quint16 Number, const QString& Path) {
        Status(QStringLiteral("closed %1").arg(PortText(Number, Path)));
    });
    connect(&Monitor, &TMonitor::DeviceLost, this, [this](quint16 Number, const QString& Path) {
        Status(QStringLiteral("waiting for %1: its device went away").arg(PortText(Number, Path)));
    });
    connect(&Monitor, &TMonitor::ShutDownBegins, this, [this] {
        FWatchdog.stop();
        Notify("STOPPING=1\nSTATUS=stopping: writing the counters and the settings");
    });

    if (WatchdogUs > 0) {
        // Fed twice per interval, from the engine's thread only.
        FWatchdog.setInterval(static_cast<int>(std::clamp<qint64>(WatchdogUs / 2000, 1, 1 << 30)));
        connect(&FWatchdog, &QTimer::timeout, this, [this] { Notify("WATCHDOG=1"); });
        FWatchdog.start();
    }
}

TServiceNotifier::~TServiceNotifier() {
    if (FFd >= 0) ::close(FFd);
}

std::unique_ptr<TServiceNotifier> TServiceNotifier::FromEnvironment(TMonitor& Monitor) {
    const QString socket = qEnvironmentVariable("NOTIFY_SOCKET");
    if (socket.isEmpty()) return nullptr;
    qint64 watchdogUs = 0;
    // A watchdog meant for another process (WATCHDOG_PID) is not this one's to feed.
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (pid.isEmpty() || pid.toLongLong() == ::getpid())
        watchdogUs = qEnvironmentVariable("WATCHDOG_USEC").toLongLong();
    return std::make_unique<TServiceNotifier>(Monitor, socket, watchdogUs);
}

bool TServiceNotifier::Notify(const std::string& State) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Only a path or an abstract name that fits; anything else is not a
    // notify socket, and nothing is sent anywhere.
    if (FFd < 0 || FAddress.empty() || FAddress.size() >= sizeof address.sun_path ||
        (FAddress[0] != '/' && FAddress[0] != '@'))
        return false;
    std::memcpy(address.sun_path, FAddress.data(), FAddress.size());
    if (FAddress[0] == '@') address.sun_path[0] = '\0';
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + FAddress.size() +
                               (FAddress[0] == '@' ? 0 : 1));
    ssize_t sent = 0;
    do {
        sent = ::sendto(FFd, State.data(), State.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), length);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(State.size());
}

void TServiceNotifier::Status(const QString& Text) {
    Notify("STATUS=" + Text.toStdString());
}

} // namespace volmar

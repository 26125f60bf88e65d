// TServiceNotifier: tells systemd how the service fares, by its notify
// socket's datagrams: ready once the engine's loop runs (its port open or
// waiting for its device), what it does as the status line, stopping when
// the shut-down begins, and the watchdog's feed from a timer on the
// engine's own thread, so that an engine that hangs stops feeding it and
// systemd restarts the service. Made only when NOTIFY_SOCKET is set.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>

namespace volmar {

class TMonitor;

class TServiceNotifier : public QObject {
    Q_OBJECT
public:
    // NOTIFY_SOCKET's value: a path, or "@name" in the abstract namespace.
    // WatchdogUs: WATCHDOG_USEC for this process, 0 when there is none.
    TServiceNotifier(TMonitor& Monitor, const QString& Socket, qint64 WatchdogUs);
    ~TServiceNotifier() override;
    TServiceNotifier(const TServiceNotifier&) = delete;
    TServiceNotifier& operator=(const TServiceNotifier&) = delete;

    // The notify socket from the environment, when this process is a
    // service of systemd's; nullptr otherwise.
    static std::unique_ptr<TServiceNotifier> FromEnvironment(TMonitor& Monitor);

    // Sends "NAME=value" lines in one datagram; false when it could not go.
    bool Notify(const std::string& State);

private:
    void Status(const QString& Text);

    TMonitor& FMonitor;
    std::string FAddress;
    int FFd = -1;
    QTimer FWatchdog;
};

} // namespace volmar

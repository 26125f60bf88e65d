// The engine's events as JSON objects, one per message, line error,
// receiver timeout and reset, port opened and closed, device lost and back:
// what the headless program prints and what control-socket subscribers get.
#pragma once

#include <QJsonObject>
#include <QObject>

namespace volmar {

class TMonitor;

class TMonitorEvents : public QObject {
    Q_OBJECT
public:
    // Follows Monitor's signals while it lives; Monitor must outlive it.
    explicit TMonitorEvents(TMonitor& Monitor, QObject* Parent = nullptr);

signals:
    // Every object has "time" (local, with milliseconds) and "event".
    void Event(const QJsonObject& Object);

private:
    void Emit(const QString& Kind, QJsonObject Object);

    TMonitor& FMonitor;
};

} // namespace volmar

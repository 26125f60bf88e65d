// The port's receiver of notifications on the user-interface thread: the
// dispatcher posts each notification here and waits until it has run.
#pragma once

#include <QEvent>
#include <QObject>

#include <cstdint>
#include <memory>

namespace volmar {

class TCustomComPort;

struct TNotifyTicket {
    // Deferred: it came up while notifications were held back; a copy goes
    // out again when they are released, and nobody waits for this one.
    enum TStage { Pending, Running, Done, Abandoned, Deferred };
    TStage Stage = Pending;
    std::uint32_t Session = 0;
    int Kind = 0;
    std::uint16_t Handle = 0;
    std::uint16_t Count = 0;
    std::uint8_t StatusKind = 0;
};

class TNotifyTarget : public QObject {
public:
    explicit TNotifyTarget(TCustomComPort* Port) : FPort(Port) {}
    static QEvent::Type EventType();
    bool event(QEvent* Event) override;

private:
    TCustomComPort* FPort;
};

class TNotifyEvent : public QEvent {
public:
    explicit TNotifyEvent(std::shared_ptr<TNotifyTicket> Ticket)
        : QEvent(TNotifyTarget::EventType()), Ticket(std::move(Ticket)) {}
    std::shared_ptr<TNotifyTicket> Ticket;
};

} // namespace volmar

#include "serial/notify_target.h"

#include "serial/com_port.h"

namespace volmar {

QEvent::Type TNotifyTarget::EventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool TNotifyTarget::event(QEvent* Event) {
    if (Event->type() != EventType()) return QObject::event(Event);
    FPort->RunTicket(static_cast<TNotifyEvent*>(Event)->Ticket);
    return true;
}

} // namespace volmar

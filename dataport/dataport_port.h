// What the receiver needs from the serial port it answers on. The serial
// port component implements this; tests implement it with a fake line.
#pragma once

#include <cstdint>
#include <functional>

namespace volmar {

class IDataportPort;

// The port's timer notification: the port and the handle of the timer
// trigger that expired.
using TDataportTimerEvent = std::function<void(IDataportPort* CP, std::uint16_t TriggerHandle)>;

class IDataportPort {
public:
    virtual ~IDataportPort() = default;

    virtual bool Open() const = 0;
    virtual void PutChar(std::uint8_t Byte) = 0;
    virtual void FlushInBuffer() = 0;
    virtual void FlushOutBuffer() = 0;
    // Arming passes the ticks and true; disarming passes 0 and false.
    virtual void SetTimerTrigger(std::uint16_t Handle, std::uint32_t Ticks, bool Activate) = 0;
    // Called after every byte the receiver consumes.
    virtual void ProcessCommunications() = 0;
    // Binds the timer notification; an empty function unbinds it.
    virtual void BindTimerNotification(TDataportTimerEvent Handler) = 0;
};

} // namespace volmar

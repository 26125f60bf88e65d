// TSLController: drives up to eight status lights from a port. While
// active it sits in front of the port's data-available, status and timer
// events (passing each on to the handler it replaced), adds triggers of its
// own, lights a lamp when its line event happens and puts it out a few
// ticks later.
//
// The port must outlive the controller, or be unbound first with
// SetComPort(nullptr): a port has no way to announce its own destruction.
#pragma once

#include <QObject>
#include <QPointer>

#include <cstdint>

#include "serial/com_port.h"
#include "serial/ui/status_light.h"

namespace volmar {

// The lamps to drive; each one is optional.
struct TLightSet {
    TStatusLight* CTSLight = nullptr;
    TStatusLight* DSRLight = nullptr;
    TStatusLight* DCDLight = nullptr;
    TStatusLight* RINGLight = nullptr;
    TStatusLight* TXDLight = nullptr;
    TStatusLight* RXDLight = nullptr;
    TStatusLight* ERRORLight = nullptr;
    TStatusLight* BREAKLight = nullptr;
};

class TSLController : public QObject {
public:
    explicit TSLController(QObject* Parent = nullptr);
    ~TSLController() override;
    TSLController(const TSLController&) = delete;
    TSLController& operator=(const TSLController&) = delete;

    TCustomComPort* ComPort() const { return FComPort; }
    // Moves the listener and, if active, the activation to the new port;
    // nullptr deactivates and forgets the port.
    void SetComPort(TCustomComPort* Value);

    // Hold times in ticks of 55 ms.
    std::int32_t ErrorOffTimeout() const { return FErrorOffTimeout; }
    void SetErrorOffTimeout(std::int32_t Value) { FErrorOffTimeout = Value; }
    std::int32_t BreakOffTimeout() const { return FBreakOffTimeout; }
    void SetBreakOffTimeout(std::int32_t Value) { FBreakOffTimeout = Value; }
    std::int32_t RXDOffTimeout() const { return FRXDOffTimeout; }
    void SetRXDOffTimeout(std::int32_t Value) { FRXDOffTimeout = Value; }
    std::int32_t TXDOffTimeout() const { return FTXDOffTimeout; }
    void SetTXDOffTimeout(std::int32_t Value) { FTXDOffTimeout = Value; }
    std::int32_t RingOffTimeout() const { return FRingOffTimeout; }
    void SetRingOffTimeout(std::int32_t Value) { FRingOffTimeout = Value; }

    // A lamp that has been deleted reads as nullptr.
    TLightSet Lights() const;
    // While active the triggers are rebuilt for the new set.
    void SetLights(const TLightSet& Value);

    bool Active() const { return FActive; }
    // Raises EPortNotAssigned without a port. On a closed port, true is
    // remembered and carried out when the port opens.
    void SetActive(bool Value);
    // Whether an activation waits for the port to open.
    bool ActivationPending() const { return FPending; }

private:
    struct TLights {
        QPointer<TStatusLight> CTSLight, DSRLight, DCDLight, RINGLight, TXDLight, RXDLight,
            ERRORLight, BREAKLight;
    };

    void CreateTriggers();
    void RemoveTriggers();
    void RefreshLights();
    void PortOpenedOrClosing(bool Opening);
    void TriggerAvail(TCustomComPort* CP, std::uint16_t Count);
    void TriggerStatus(TCustomComPort* CP, std::uint16_t TriggerHandle);
    void TriggerTimer(TCustomComPort* CP, std::uint16_t TriggerHandle);
    static void Light(TStatusLight* Lamp, bool Lit) {
        if (Lamp) Lamp->SetLit(Lit);
    }

    TCustomComPort* FComPort = nullptr;
    std::int32_t FErrorOffTimeout = 36;
    std::int32_t FBreakOffTimeout = 36;
    std::int32_t FRXDOffTimeout = 1;
    std::int32_t FTXDOffTimeout = 1;
    std::int32_t FRingOffTimeout = 8;
    TLights FLights;

    bool FActive = false;
    bool FPending = false;
    TTriggerAvailEvent FSavedAvail;
    TTriggerStatusEvent FSavedStatus;
    TTriggerTimerEvent FSavedTimer;

    std::uint16_t FModemTrigger = 0;
    std::uint16_t FErrorTrigger = 0;
    std::uint16_t FErrorTimer = 0;
    std::uint16_t FBreakTrigger = 0;
    std::uint16_t FBreakTimer = 0;
    std::uint16_t FRXDTimer = 0;
    std::uint16_t FOutSentTrigger = 0;
    std::uint16_t FTXDTimer = 0;
    std::uint16_t FRingTimer = 0;
    std::uint8_t FModemMask = 0;
};

} // namespace volmar

#include "serial/ui/sl_controller.h"

namespace volmar {

namespace {

// Values the controller arms its line triggers with: 7 watches overrun,
// parity and framing errors, 8 the break.
constexpr std::uint16_t kErrorWatch = 7;
constexpr std::uint16_t kBreakWatch = 8;

// Modem-status bits a lamp watches: the CTS, DSR and DCD levels, and the
// ring line's change bit (a ring is over before its level could be seen).
constexpr std::uint8_t kMaskCTS = 0x10;
constexpr std::uint8_t kMaskDSR = 0x20;
constexpr std::uint8_t kMaskDCD = 0x80;
constexpr std::uint8_t kMaskRing = 0x04;

std::uint32_t Ticks(std::int32_t Value) { return static_cast<std::uint32_t>(Value); }

} // namespace

TSLController::TSLController(QObject* Parent) : QObject(Parent) {}

TSLController::~TSLController() {
    if (!FComPort) return;
    FComPort->RemovePortListener(this);
    // The port's events must not be left pointing at a controller that is gone.
    if (FActive) {
        FComPort->OnTriggerAvail = std::move(FSavedAvail);
        FComPort->OnTriggerStatus = std::move(FSavedStatus);
        FComPort->OnTriggerTimer = std::move(FSavedTimer);
        FComPort->UpdateHandlerFlags();
        try {
            RemoveTriggers();
        } catch (...) {
        }
    }
}

void TSLController::SetComPort(TCustomComPort* Value) {
    if (Value == FComPort) return;
    if (FComPort) FComPort->RemovePortListener(this);
    const bool wasActive = FActive;
    SetActive(false);
    FComPort = Value;
    if (!FComPort) {
        FPending = false;
        return;
    }
    SetActive(wasActive);
    FComPort->AddPortListener(
        [](void* Owner, TCustomComPort*, bool Opening) {
            static_cast<TSLController*>(Owner)->PortOpenedOrClosing(Opening);
        },
        this);
}

TLightSet TSLController::Lights() const {
    TLightSet set;
    set.CTSLight = FLights.CTSLight;
    set.DSRLight = FLights.DSRLight;
    set.DCDLight = FLights.DCDLight;
    set.RINGLight = FLights.RINGLight;
    set.TXDLight = FLights.TXDLight;
    set.RXDLight = FLights.RXDLight;
    set.ERRORLight = FLights.ERRORLight;
    set.BREAKLight = FLights.BREAKLight;
    return set;
}

void TSLController::SetLights(const TLightSet& Value) {
    const bool wasActive = FActive;
    if (wasActive) SetActive(false);
    FLights.CTSLight = Value.CTSLight;
    FLights.DSRLight = Value.DSRLight;
    FLights.DCDLight = Value.DCDLight;
    FLights.RINGLight = Value.RINGLight;
    FLights.TXDLight = Value.TXDLight;
    FLights.RXDLight = Value.RXDLight;
    FLights.ERRORLight = Value.ERRORLight;
    FLights.BREAKLight = Value.BREAKLight;
    if (wasActive) SetActive(true);
}

void TSLController::SetActive(bool Value) {
    if (Value == FActive) return;
    if (!FComPort) throw EPortNotAssigned();
    if (!FComPort->Open()) {
        FPending = Value;
        if (Value) return;
    }
    FActive = Value;
    if (Value) {
        FSavedAvail = FComPort->OnTriggerAvail;
        FSavedStatus = FComPort->OnTriggerStatus;
        FSavedTimer = FComPort->OnTriggerTimer;
        FComPort->OnTriggerAvail = [this](TCustomComPort* CP, std::uint16_t Count) {
            TriggerAvail(CP, Count);
        };
        FComPort->OnTriggerStatus = [this](TCustomComPort* CP, std::uint16_t Handle) {
            TriggerStatus(CP, Handle);
        };
        FComPort->OnTriggerTimer = [this](TCustomComPort* CP, std::uint16_t Handle) {
            TriggerTimer(CP, Handle);
        };
        FComPort->UpdateHandlerFlags();
        CreateTriggers();
    } else {
        FComPort->OnTriggerAvail = std::move(FSavedAvail);
        FComPort->OnTriggerStatus = std::move(FSavedStatus);
        FComPort->OnTriggerTimer = std::move(FSavedTimer);
        FSavedAvail = nullptr;
        FSavedStatus = nullptr;
        FSavedTimer = nullptr;
        FComPort->UpdateHandlerFlags();
        RemoveTriggers();
    }
    RefreshLights();
}

void TSLController::CreateTriggers() {
    FModemTrigger = FErrorTrigger = FErrorTimer = FBreakTrigger = FBreakTimer = 0;
    FRXDTimer = FOutSentTrigger = FTXDTimer = FRingTimer = 0;
    TCustomComPort& port = *FComPort;
    try {
        const bool modem =
            FLights.CTSLight || FLights.DSRLight || FLights.DCDLight || FLights.RINGLight;
        if (modem) {
            FModemTrigger = port.AddStatusTrigger(stModem);
            if (FLights.RINGLight) FRingTimer = port.AddTimerTrigger();
        }
        if (FLights.ERRORLight) {
            FErrorTrigger = port.AddStatusTrigger(stLine);
            FErrorTimer = port.AddTimerTrigger();
        }
        if (FLights.BREAKLight) {
            FBreakTrigger = port.AddStatusTrigger(stLine);
            FBreakTimer = port.AddTimerTrigger();
        }
        if (FLights.RXDLight) FRXDTimer = port.AddTimerTrigger();
        if (FLights.TXDLight) {
            FOutSentTrigger = port.AddStatusTrigger(stOutSent);
            FTXDTimer = port.AddTimerTrigger();
        }
        FModemMask = static_cast<std::uint8_t>(
            (FLights.CTSLight ? kMaskCTS : 0) | (FLights.DSRLight ? kMaskDSR : 0) |
            (FLights.DCDLight ? kMaskDCD : 0) | (FLights.RINGLight ? kMaskRing : 0));
        if (FModemTrigger) port.SetStatusTrigger(FModemTrigger, FModemMask, true);
        if (FErrorTrigger) port.SetStatusTrigger(FErrorTrigger, kErrorWatch, true);
        if (FBreakTrigger) port.SetStatusTrigger(FBreakTrigger, kBreakWatch, true);
        if (FOutSentTrigger) port.SetStatusTrigger(FOutSentTrigger, 0, true);
    } catch (...) {
        FModemMask = 0;
        RemoveTriggers();
        throw;
    }
}

void TSLController::RemoveTriggers() {
    for (std::uint16_t* handle :
         {&FModemTrigger, &FRingTimer, &FErrorTrigger, &FErrorTimer, &FBreakTrigger, &FBreakTimer,
          &FRXDTimer, &FOutSentTrigger, &FTXDTimer}) {
        if (*handle == 0) continue;
        const std::uint16_t h = *handle;
        *handle = 0;
        try {
            FComPort->RemoveTrigger(h);
        } catch (const EBadTriggerHandle&) {
            // Already gone (the owner removed every trigger): nothing to undo.
        }
    }
}

void TSLController::RefreshLights() {
    for (TStatusLight* lamp :
         {FLights.CTSLight.data(), FLights.DSRLight.data(), FLights.DCDLight.data(),
          FLights.RINGLight.data(), FLights.TXDLight.data(), FLights.RXDLight.data(),
          FLights.ERRORLight.data(), FLights.BREAKLight.data()})
        Light(lamp, false);
    if (!FActive) return;
    if (FLights.CTSLight) FLights.CTSLight->SetLit(FComPort->CTS());
    if (FLights.DSRLight) FLights.DSRLight->SetLit(FComPort->DSR());
    if (FLights.DCDLight) FLights.DCDLight->SetLit(FComPort->DCD());
}

// At a close the port already counts as closed, so the deactivation also
// clears the pending flag: only a request made while closed survives.
void TSLController::PortOpenedOrClosing(bool Opening) {
    if (Opening) {
        const bool requested = FPending;
        FPending = false;
        if (requested) SetActive(true);
    } else {
        FPending = FActive;
        SetActive(false);
    }
}

void TSLController::TriggerAvail(TCustomComPort* CP, std::uint16_t Count) {
    TStatusLight* rx = FLights.RXDLight;
    if (rx && !rx->Lit()) {
        rx->SetLit(true);
        if (FRXDTimer) CP->SetTimerTrigger(FRXDTimer, Ticks(FRXDOffTimeout), true);
    }
    // A copy: the handler may deactivate the controller, which hands the
    // saved one back to the port.
    const auto saved = FSavedAvail;
    if (saved) saved(CP, Count);
}

void TSLController::TriggerStatus(TCustomComPort* CP, std::uint16_t TriggerHandle) {
    // Handles are never 0, and 0 marks a trigger the controller does not hold.
    if (TriggerHandle == 0) {
    } else if (TriggerHandle == FModemTrigger) {
        if (TStatusLight* dcd = FLights.DCDLight) dcd->SetLit(CP->DCD());
        if (TStatusLight* cts = FLights.CTSLight) cts->SetLit(CP->CTS());
        if (TStatusLight* dsr = FLights.DSRLight) dsr->SetLit(CP->DSR());
        if (TStatusLight* ring = FLights.RINGLight) {
            if (CP->DeltaRI() && !ring->Lit()) {
                ring->SetLit(true);
                if (FRingTimer) CP->SetTimerTrigger(FRingTimer, Ticks(FRingOffTimeout), true);
            }
        }
        CP->SetStatusTrigger(FModemTrigger, FModemMask, true);
    } else if (TriggerHandle == FErrorTrigger) {
        Light(FLights.ERRORLight, true);
        CP->SetTimerTrigger(FErrorTimer, Ticks(FErrorOffTimeout), true);
        CP->LineError();
    } else if (TriggerHandle == FBreakTrigger) {
        Light(FLights.BREAKLight, true);
        CP->SetTimerTrigger(FBreakTimer, Ticks(FBreakOffTimeout), true);
        CP->LineBreak();
    } else if (TriggerHandle == FOutSentTrigger) {
        Light(FLights.TXDLight, true);
        CP->SetTimerTrigger(FTXDTimer, Ticks(FTXDOffTimeout), true);
    }
    const auto saved = FSavedStatus;
    if (saved) saved(CP, TriggerHandle);
}

void TSLController::TriggerTimer(TCustomComPort* CP, std::uint16_t TriggerHandle) {
    if (TriggerHandle == 0) {
    } else if (TriggerHandle == FErrorTimer) {
        Light(FLights.ERRORLight, false);
        CP->SetStatusTrigger(FErrorTrigger, kErrorWatch, true);
    } else if (TriggerHandle == FBreakTimer) {
        Light(FLights.BREAKLight, false);
        CP->SetStatusTrigger(FBreakTrigger, kBreakWatch, true);
    } else if (TriggerHandle == FRXDTimer) {
        if (CP->InBuffUsed() != 0)
            CP->SetTimerTrigger(FRXDTimer, Ticks(FRXDOffTimeout), true);
        else
            Light(FLights.RXDLight, false);
    } else if (TriggerHandle == FTXDTimer) {
        if (CP->OutBuffUsed() != 0) {
            CP->SetTimerTrigger(FTXDTimer, Ticks(FTXDOffTimeout), true);
        } else {
            Light(FLights.TXDLight, false);
            CP->SetStatusTrigger(FOutSentTrigger, 0, true);
        }
    } else if (TriggerHandle == FRingTimer) {
        Light(FLights.RINGLight, false);
    }
    const auto saved = FSavedTimer;
    if (saved) saved(CP, TriggerHandle);
}

} // namespace volmar

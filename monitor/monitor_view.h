// What the monitoring engine shows and asks of its view: the operator's
// window, a console, or nothing at all. Every call does nothing here, so a
// view overrides only what it has to show; without a view the engine runs
// the same.
#pragma once

#include <QString>

#include <cstdint>
#include <string>

#include "interpret/machine_view.h"

namespace volmar {

class TProfileFile;

enum TSpeedMode : std::uint8_t { smAuto, sm1200, sm9600 };

enum TBoxKind : std::uint8_t { bkError, bkWarning, bkInformation };

class IMonitorView : public IMachineDisplay {
public:
    // The machine panel, as the machine's messages change it.
    void SetIdentityText(TIdentityLabel /*Label*/, const std::string& /*Text*/) override {}
    void SetCheckListBits(TSupportList /*List*/, std::uint32_t /*Mask*/) override {}
    void SetAttendantLamp(bool /*On*/) override {}
    void SetSwitchStates(std::uint16_t /*Word*/) override {}
    void ShowValuesMode(bool /*BCDValues*/) override {}
    // Not Reported: doors grey and keys off, as before the machine's first word.
    virtual void ShowSwitches(bool /*Reported*/, std::uint16_t /*Word*/) {}
    // The engine's totals of a meter index (0 all, 1..10 one) as they are now.
    virtual void UpdateMeters(int /*Index*/) {}
    // Reset: every meter back to zero, the meters' own way.
    virtual void ResetMeters() {}

    // Port, baud and speed signal.
    virtual void ShowPortChoice(std::uint16_t /*ComNumber*/) {}
    // The devices behind the COM numbers have changed.
    virtual void ShowPortDevices() {}
    virtual void ShowSpeedMode(TSpeedMode /*Mode*/) {}
    virtual void ShowBaud(std::int32_t /*Baud*/) {}
    // True while the baud follows the speed signal on an open port.
    virtual void ShowSpeedSelectActive(bool /*Active*/) {}
    // The port's status lights follow its lines while active.
    virtual void SetStatusLightsActive(bool /*Active*/) {}

    // The status line; empty clears it.
    virtual void ShowStatusText(const QString& /*Text*/) {}
    // A problem that must be seen but must not wait for the operator; empty: none.
    virtual void ShowAlert(const QString& /*Text*/) {}
    // A box the operator closes. False when the view has none: the text
    // then goes to the alert.
    virtual bool ShowBox(TBoxKind /*Kind*/, const QString& /*Text*/) { return false; }

    // The view's own steps of the start-up, called in their place among the
    // engine's: after the values mode is set, before the counters load;
    virtual void StartUpBegins() {}
    // once the grids hold the loaded counts;
    virtual void LogGridsSetUp() {}
    // once the receive buffer exists;
    virtual void StartLogo() {}
    // the view's keys, after the engine's port and speed mode;
    virtual void LoadSettings(const TProfileFile& /*Ini*/) {}
    // and once every key is applied, before the speed signal is read.
    virtual void SettingsLoaded() {}
    // The view's keys, written after the engine's.
    virtual void SaveSettings(TProfileFile& /*Ini*/) {}
};

} // namespace volmar

// The port choice, the speed modes and the following of the machine's
// speed signal (CTS: present asks for 9600 baud, absent for 1200); a device
// that goes away is watched for and reopened when it comes back.
#include <QCoreApplication>

#include <sys/stat.h>

#include "dataport/str_format.h"
#include "monitor/monitor.h"
#include "serial/device_map.h"

namespace volmar {

namespace {
constexpr std::uint16_t kModemMaskCTS = 0x10;
// Overrun, parity and framing errors, and input lost to a full device queue
// (never silently: it spoils the message it cut into); breaks are not watched.
constexpr std::uint16_t kLineErrorMask = 7 | 16;
// How often a device that went away is looked for.
constexpr int kReconnectPollMs = 500;

QString Local(const std::string& Text) { return QString::fromLocal8Bit(Text.c_str()); }
} // namespace

void TMonitor::ChoosePort(int Number) {
    // The entry of a port that failed or went away tries it again.
    if (Number < 0 || (Number == FComPortPlus.ComNumber() && (Number == 0 || FComPortPlus.Open())))
        return;
    SelectComPort(static_cast<std::uint16_t>(Number));
}

void TMonitor::AssignDevices(const std::map<std::uint16_t, std::string>& Paths) {
    bool chosenChanged = false;
    for (const auto& [number, path] : Paths) {
        SetDevicePathForCom(number, path);
        FAssignedDevices[number] = path;
        chosenChanged |= number == FComPortPlus.ComNumber();
    }
    FView.ShowPortDevices();
    // The chosen port now stands for another device: open that one.
    if (chosenChanged) SelectComPort(FComPortPlus.ComNumber());
}

void TMonitor::ClosePort() {
    if (!FComPortPlus.Open()) return;
    FView.SetStatusLightsActive(false);
    FVolmar.SetTimerHandle(0);
    FComPortPlus.FlushInBuffer();
    FComPortPlus.FlushOutBuffer();
    FComPortPlus.RemoveAllTriggers();
    QCoreApplication::processEvents();
    FComPortPlus.SetOpen(false);
    emit PortClosed(FComPortPlus.ComNumber(), Local(FComPortPlus.DevicePath()));
    QCoreApplication::processEvents();
}

void TMonitor::SelectComPort(std::uint16_t N) {
    std::exception_ptr failure;
    try {
        ClosePort();
        FComPortPlus.SetComNumber(N);
        if (N != 0) {
            try {
                FComPortPlus.SetOpen(true);
            } catch (const EAlreadyOpen& InUse) {
                QString text = QString::fromLatin1(
                    StrFormat("COM%d port is in use, please select another port", N).c_str());
                if (!InUse.Detail().empty()) text += QLatin1Char('\n') + Local(InUse.Detail());
                FReports.ShowBox(bkWarning, text, Local(InUse.Detail()));
                FComPortPlus.SetComNumber(0);
            }
            if (FComPortPlus.Open()) {
                FModemTrigger = FComPortPlus.AddStatusTrigger(stModem);
                FLineTrigger = FComPortPlus.AddStatusTrigger(stLine);
                FVolmar.SetTimerHandle(FComPortPlus.AddTimerTrigger());
                SetAutoBaudActive(FSpeedMode == smAuto);
                FView.SetStatusLightsActive(true);
                PostCommand(ucSpeedSignal);
                emit PortOpened(N, Local(FComPortPlus.DevicePath()));
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    FView.ShowPortChoice(FComPortPlus.ComNumber());
    ShowSpeedSelectActive(FAutoBaudActive && FComPortPlus.Open());
    if (FComPortPlus.Open()) {
        ArmModemTrigger(true);
        ArmLineTrigger(true);
    }
    if (failure) std::rethrow_exception(failure);
}

void TMonitor::SetSpeedMode(TSpeedMode Mode) {
    FSpeedMode = Mode;
    FView.ShowSpeedMode(Mode);
    switch (Mode) {
    case sm1200: SetBaudChoice(1); break;
    case sm9600: SetBaudChoice(2); break;
    default: SetBaudChoice(AutoBaudChoice()); break;
    }
    SetAutoBaudActive(Mode == smAuto);
}

void TMonitor::SetBaudChoice(int Choice) {
    const std::int32_t before = FComPortPlus.Baud();
    try {
        if (Choice == 1) FComPortPlus.SetBaud(1200);
        if (Choice == 2) FComPortPlus.SetBaud(9600);
    } catch (...) {
        FView.ShowBaud(FComPortPlus.Baud());
        throw;
    }
    FView.ShowBaud(FComPortPlus.Baud());
    if (FComPortPlus.Baud() != before)
        RecordEvent(TLineEvent::SpeedChanged, FComPortPlus.Baud());
}

int TMonitor::AutoBaudChoice() {
    if (!FComPortPlus.Open()) return 0;
    return SpeedSignalPresent() ? 2 : 1;
}

bool TMonitor::SpeedSignalPresent() { return FComPortPlus.Open() && FComPortPlus.CTS(); }

void TMonitor::SetAutoBaudActive(bool Value) {
    if (Value == FAutoBaudActive) return;
    FAutoBaudActive = Value;
    ShowSpeedSelectActive(Value && FComPortPlus.Open());
}

void TMonitor::ShowSpeedSelectActive(bool Active) { FView.ShowSpeedSelectActive(Active); }

void TMonitor::FollowSpeedSignal(bool Present) { SetBaudChoice(Present ? 2 : 1); }

void TMonitor::SetSpeedSignal(bool Present) {
    FSpeedSignal = Present;
    PostCommand(ucArmSpeedSignal);
}

void TMonitor::ArmModemTrigger(bool Activate) {
    if (FComPortPlus.Open()) FComPortPlus.SetStatusTrigger(FModemTrigger, kModemMaskCTS, Activate);
}

void TMonitor::ArmLineTrigger(bool Activate) {
    if (FComPortPlus.Open()) FComPortPlus.SetStatusTrigger(FLineTrigger, kLineErrorMask, Activate);
}

void TMonitor::ComPortPlusTriggerModemStatus(TCustomComPort* CP) {
    if (CP->DeltaCTS() && FAutoBaudActive) {
        PostCommand(ucSpeedSignal);
        ArmModemTrigger(true);
    }
}

void TMonitor::ComPortPlusDeviceLost(TCustomComPort* CP) {
    // Closing lets pending messages run: not inside the port's own handler.
    const std::uint16_t number = CP->ComNumber();
    const std::string path = CP->DevicePath();
    QMetaObject::invokeMethod(
        this, [this, number, path] { PortLost(number, path); }, Qt::QueuedConnection);
}

void TMonitor::PortLost(std::uint16_t Number, const std::string& Path) {
    if (FShutDown || FComPortPlus.ComNumber() != Number || FComPortPlus.DevicePath() != Path)
        return;
    ClosePort();
    FView.ShowPortChoice(Number);
    ShowSpeedSelectActive(false);
    const std::string text = StrFormat("COM%d (%s) has gone away", Number, Path.c_str());
    FLogs.LogNote(text);
    FReports.ReportQuietly(Local(text));
    emit DeviceLost(Number, Local(Path));
    // The same path again (for a by-id link, the same adapter) reopens it.
    FLostPort = Number;
    FLostPath = Path;
    FReconnectTimer.start(kReconnectPollMs);
}

void TMonitor::WatchForLostDevice() {
    // The operator chose another port or device meanwhile: nothing to wait for.
    if (FLostPort == 0 || FComPortPlus.Open() || FComPortPlus.ComNumber() != FLostPort ||
        FComPortPlus.DevicePath() != FLostPath) {
        FLostPort = 0;
        FReconnectTimer.stop();
        return;
    }
    struct stat node {};
    if (::stat(FLostPath.c_str(), &node) != 0 || !S_ISCHR(node.st_mode)) return;
    try {
        SelectComPort(FLostPort);
    } catch (const std::exception&) {
        return; // not ready yet (its permissions come a moment later): the next look
    }
    if (!FComPortPlus.Open()) return;
    FReconnectTimer.stop();
    const std::uint16_t number = FLostPort;
    const std::string text = StrFormat("COM%d (%s) is back", number, FLostPath.c_str());
    FLostPort = 0;
    // As after start-up: the receiver NAKs until the machine's first message.
    PostCommand(ucResetDataport);
    FLogs.LogNote(text);
    FReports.ShowAlert(QString());
    FView.ShowStatusText(Local(text));
    emit DeviceBack(number, Local(FLostPath));
}

} // namespace volmar

// The port choice, the speed modes and the following of the machine's
// speed signal (CTS: present asks for 9600 baud, absent for 1200).
#include <QCoreApplication>
#include <QStatusBar>

#include <sys/stat.h>

#include "app/devices_dialog.h"
#include "app/main_window.h"
#include "dataport/str_format.h"
#include "serial/device_map.h"

namespace volmar {

namespace {
constexpr std::uint16_t kModemMaskCTS = 0x10;
// Overrun, parity and framing errors; breaks and ring overflows are not watched.
constexpr std::uint16_t kLineErrorMask = 7;
// How often a device that went away is looked for.
constexpr int kReconnectPollMs = 500;
} // namespace

void TfrmVolmar::cmbxComPortChange(int Index) {
    if (Index > 0) statusBar()->showMessage(cmbxComPort->itemData(Index, Qt::ToolTipRole).toString());
    // The entry of a port that failed or went away tries it again.
    if (Index < 0 || (Index == FComPortPlus.ComNumber() && (Index == 0 || FComPortPlus.Open())))
        return;
    SelectComPort(static_cast<std::uint16_t>(Index));
}

void TfrmVolmar::RefreshPortList() {
    cmbxComPort->setItemData(0, QStringLiteral("No port"), Qt::ToolTipRole);
    for (int n = 1; n < cmbxComPort->count(); ++n) {
        const std::string path = DevicePathForCom(static_cast<std::uint16_t>(n));
        cmbxComPort->setItemData(n, QStringLiteral("COM%1 is %2").arg(n).arg(QString::fromLocal8Bit(path.c_str())),
                                 Qt::ToolTipRole);
    }
}

void TfrmVolmar::mnuDevicesClick() {
    std::array<std::string, kAssignablePorts> before;
    for (std::size_t i = 0; i < before.size(); ++i)
        before[i] = DevicePathForCom(static_cast<std::uint16_t>(i + 1));
    TdlgDevices dialog(this, before);
    if (dialog.exec() != QDialog::Accepted) return;
    const auto after = dialog.Paths();
    bool chosenChanged = false;
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (after[i] == before[i]) continue;
        const auto number = static_cast<std::uint16_t>(i + 1);
        SetDevicePathForCom(number, after[i]);  // empty: the COM number's own device again
        FAssignedDevices[number] = after[i];
        chosenChanged |= number == FComPortPlus.ComNumber();
    }
    RefreshPortList();
    // The chosen port now stands for another device: open that one.
    if (chosenChanged) SelectComPort(FComPortPlus.ComNumber());
}

void TfrmVolmar::ClosePort() {
    if (!FComPortPlus.Open()) return;
    LEDController->SetActive(false);
    FVolmar.SetTimerHandle(0);
    FComPortPlus.FlushInBuffer();
    FComPortPlus.FlushOutBuffer();
    FComPortPlus.RemoveAllTriggers();
    QCoreApplication::processEvents();
    FComPortPlus.SetOpen(false);
    QCoreApplication::processEvents();
}

void TfrmVolmar::SelectComPort(std::uint16_t N) {
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
                if (!InUse.Detail().empty())
                    text += QLatin1Char('\n') + QString::fromLocal8Bit(InUse.Detail().c_str());
                ShowBox(FOptions.Boxes.Warning, text);
                FComPortPlus.SetComNumber(0);
            }
            if (FComPortPlus.Open()) {
                FModemTrigger = FComPortPlus.AddStatusTrigger(stModem);
                FLineTrigger = FComPortPlus.AddStatusTrigger(stLine);
                FVolmar.SetTimerHandle(FComPortPlus.AddTimerTrigger());
                SetAutoBaudActive(FSpeedMode == smAuto);
                LEDController->SetActive(true);
                PostCommand(ucSpeedSignal);
            }
        }
    } catch (...) {
        failure = std::current_exception();
    }
    cmbxComPort->setCurrentIndex(FComPortPlus.ComNumber() < cmbxComPort->count() ? FComPortPlus.ComNumber() : -1);
    ShowSpeedSelectActive(FAutoBaudActive && FComPortPlus.Open());
    if (FComPortPlus.Open()) {
        ArmModemTrigger(true);
        ArmLineTrigger(true);
    }
    if (failure) std::rethrow_exception(failure);
}

void TfrmVolmar::SetSpeedMode(TSpeedMode Mode) {
    FSpeedMode = Mode;
    switch (Mode) {
    case sm1200:
        btn1200Baud->setChecked(true);
        SetBaudChoice(1);
        break;
    case sm9600:
        btn9600Baud->setChecked(true);
        SetBaudChoice(2);
        break;
    default:
        btnAutoBaud->setChecked(true);
        SetBaudChoice(AutoBaudChoice());
        break;
    }
    SetAutoBaudActive(Mode == smAuto);
}

void TfrmVolmar::SetBaudChoice(int Choice) {
    try {
        if (Choice == 1) FComPortPlus.SetBaud(1200);
        if (Choice == 2) FComPortPlus.SetBaud(9600);
    } catch (...) {
        pnlSmallMeters->txtBaud->setText(QString::number(FComPortPlus.Baud()));
        throw;
    }
    pnlSmallMeters->txtBaud->setText(QString::number(FComPortPlus.Baud()));
}

int TfrmVolmar::AutoBaudChoice() {
    if (!FComPortPlus.Open()) return 0;
    return SpeedSignalPresent() ? 2 : 1;
}

bool TfrmVolmar::SpeedSignalPresent() { return FComPortPlus.Open() && FComPortPlus.CTS(); }

void TfrmVolmar::SetAutoBaudActive(bool Value) {
    if (Value == FAutoBaudActive) return;
    FAutoBaudActive = Value;
    ShowSpeedSelectActive(Value && FComPortPlus.Open());
}

void TfrmVolmar::ShowSpeedSelectActive(bool Active) {
    TStatusLight* light = pnlSmallMeters->ledSpeedSelect;
    light->SetLitColor(Active ? QColor(255, 0, 0) : QColor(128, 128, 128));
    light->SetNotLitColor(Active ? QColor(128, 0, 0) : palette().color(QPalette::Dark));
}

void TfrmVolmar::FollowSpeedSignal(bool Present) { SetBaudChoice(Present ? 2 : 1); }

void TfrmVolmar::SetSpeedSignal(bool Present) {
    FSpeedSignal = Present;
    PostCommand(ucArmSpeedSignal);
}

void TfrmVolmar::ArmModemTrigger(bool Activate) {
    if (FComPortPlus.Open()) FComPortPlus.SetStatusTrigger(FModemTrigger, kModemMaskCTS, Activate);
}

void TfrmVolmar::ArmLineTrigger(bool Activate) {
    if (FComPortPlus.Open()) FComPortPlus.SetStatusTrigger(FLineTrigger, kLineErrorMask, Activate);
}

void TfrmVolmar::ComPortPlusTriggerModemStatus(TCustomComPort* CP) {
    if (CP->DeltaCTS() && FAutoBaudActive) {
        PostCommand(ucSpeedSignal);
        ArmModemTrigger(true);
    }
}

void TfrmVolmar::ComPortPlusDeviceLost(TCustomComPort* CP) {
    // Closing lets pending messages run: not inside the port's own handler.
    const std::uint16_t number = CP->ComNumber();
    const std::string path = CP->DevicePath();
    QMetaObject::invokeMethod(this, [this, number, path] { PortLost(number, path); },
                              Qt::QueuedConnection);
}

void TfrmVolmar::PortLost(std::uint16_t Number, const std::string& Path) {
    if (FComPortPlus.ComNumber() != Number || FComPortPlus.DevicePath() != Path) return;
    ClosePort();
    cmbxComPort->setCurrentIndex(Number < cmbxComPort->count() ? Number : -1);
    ShowSpeedSelectActive(false);
    const std::string text = StrFormat("COM%d (%s) has gone away", Number, Path.c_str());
    FLogs.LogNote(text);
    ReportQuietly(QString::fromLocal8Bit(text.c_str()));
    // The same path again (for a by-id link, the same adapter) reopens it.
    FLostPort = Number;
    FLostPath = Path;
    FReconnectTimer.start(kReconnectPollMs);
}

void TfrmVolmar::WatchForLostDevice() {
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
        return;  // not ready yet (its permissions come a moment later): the next look
    }
    if (!FComPortPlus.Open()) return;
    FReconnectTimer.stop();
    const std::string text = StrFormat("COM%d (%s) is back", FLostPort, FLostPath.c_str());
    FLostPort = 0;
    // As after start-up: the receiver NAKs until the machine's first message.
    PostCommand(ucResetDataport);
    FLogs.LogNote(text);
    ShowAlert(QString());
    statusBar()->showMessage(QString::fromLocal8Bit(text.c_str()));
}

} // namespace volmar

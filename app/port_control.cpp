// The port choice, the speed modes and the following of the machine's
// speed signal (CTS: present asks for 9600 baud, absent for 1200).
#include <QCoreApplication>

#include "app/main_window.h"
#include "dataport/str_format.h"

namespace volmar {

namespace {
constexpr std::uint16_t kModemMaskCTS = 0x10;
// Overrun, parity and framing errors; breaks and ring overflows are not watched.
constexpr std::uint16_t kLineErrorMask = 7;
} // namespace

void TfrmVolmar::cmbxComPortChange(int Index) {
    if (Index >= 0 && Index != FComPortPlus.ComNumber()) SelectComPort(static_cast<std::uint16_t>(Index));
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
            } catch (const EAlreadyOpen&) {
                ShowBox(FOptions.Boxes.Warning, QString::fromLatin1(StrFormat(
                    "COM%d port is in use, please select another port", N).c_str()));
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
    const std::uint16_t number = CP->ComNumber();
    const std::string path = CP->DevicePath();
    ClosePort();
    cmbxComPort->setCurrentIndex(number < cmbxComPort->count() ? number : -1);
    ShowSpeedSelectActive(false);
    ReportQuietly(
        QString::fromLatin1(StrFormat("COM%d (%s) has gone away", number, path.c_str()).c_str()));
}

} // namespace volmar

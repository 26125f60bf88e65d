// The window's side of the port, baud and speed-signal control: the port
// list with each entry's device, the speed buttons, the baud label, the
// speed-select light's colours and the status lights; the engine decides.
#include <QStatusBar>

#include "app/devices_dialog.h"
#include "app/main_window.h"
#include "serial/device_map.h"

namespace volmar {

void TfrmVolmar::cmbxComPortChange(int Index) {
    if (Index > 0)
        statusBar()->showMessage(cmbxComPort->itemData(Index, Qt::ToolTipRole).toString());
    FMonitor.ChoosePort(Index);
}

void TfrmVolmar::ShowPortChoice(std::uint16_t ComNumber) {
    cmbxComPort->setCurrentIndex(ComNumber < cmbxComPort->count() ? ComNumber : -1);
}

void TfrmVolmar::ShowPortDevices() {
    cmbxComPort->setItemData(0, QStringLiteral("No port"), Qt::ToolTipRole);
    for (int n = 1; n < cmbxComPort->count(); ++n) {
        const std::string path = DevicePathForCom(static_cast<std::uint16_t>(n));
        cmbxComPort->setItemData(
            n, QStringLiteral("COM%1 is %2").arg(n).arg(QString::fromLocal8Bit(path.c_str())),
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
    std::map<std::uint16_t, std::string> changed;
    for (std::size_t i = 0; i < after.size(); ++i)
        if (after[i] != before[i]) changed[static_cast<std::uint16_t>(i + 1)] = after[i];
    FMonitor.AssignDevices(changed);
}

void TfrmVolmar::ShowSpeedMode(TSpeedMode Mode) {
    switch (Mode) {
    case sm1200: btn1200Baud->setChecked(true); break;
    case sm9600: btn9600Baud->setChecked(true); break;
    default: btnAutoBaud->setChecked(true); break;
    }
}

void TfrmVolmar::ShowBaud(std::int32_t Baud) {
    pnlSmallMeters->txtBaud->setText(QString::number(Baud));
}

void TfrmVolmar::ShowSpeedSelectActive(bool Active) {
    TStatusLight* light = pnlSmallMeters->ledSpeedSelect;
    light->SetLitColor(Active ? QColor(255, 0, 0) : QColor(128, 128, 128));
    light->SetNotLitColor(Active ? QColor(128, 0, 0) : palette().color(QPalette::Dark));
}

void TfrmVolmar::SetStatusLightsActive(bool Active) { LEDController->SetActive(Active); }

} // namespace volmar

// TdlgDevices: the serial devices present, and which one each of COM1..COM4
// stands for. A device plugged in or out shows up or goes within a second or
// two; any other path (a pseudo-terminal, a link made by socat) can be typed.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QTableWidget>
#include <QTimer>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "serial/device_list.h"

namespace volmar {

inline constexpr int kAssignablePorts = 4;

class TdlgDevices : public QDialog {
    Q_OBJECT
public:
    using TLister = std::function<std::vector<TSerialDevice>()>;
    // Paths holds the device of COM1..COM4 as they stand now.
    TdlgDevices(QWidget* Owner, const std::array<std::string, kAssignablePorts>& Paths,
                TLister List = [] { return ListSerialDevices(); });

    // The device of COM1..COM4 as the dialog leaves them.
    std::array<std::string, kAssignablePorts> Paths() const;
    // Reads the devices present again; a timer does it while the dialog is up.
    void Refresh();
    // The listed device of Row becomes the device of COM ComIndex + 1.
    void Assign(int Row, int ComIndex);

    QTableWidget* lstDevices;
    std::array<QComboBox*, kAssignablePorts> cmbxCom;

private:
    TLister FList;
    std::vector<TSerialDevice> FShown;
    QTimer FRefresh;
};

} // namespace volmar

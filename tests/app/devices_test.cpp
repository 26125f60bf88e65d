// The Devices dialog over fake device entries, and the assignment it makes.
#include <QApplication>
#include <QTimer>

#include "app/devices_dialog.h"
#include "app/window_fixture.h"
#include "serial/device_map.h"

namespace volmar::testing {
namespace {

class DevicesTest : public WindowTest {
protected:
    void Plug(const std::string& Name) {
        fs::create_directories((dev / Name).parent_path());
        std::ofstream(dev / Name) << "";
    }
    std::vector<TSerialDevice> List() const {
        return ListSerialDevices({dev, dir / "sys", "/proc", [] { return std::vector<TSerialDevice>{}; }});
    }
    std::string Row(const TdlgDevices& D, int R) const {
        const QTableWidgetItem* item = D.lstDevices->item(R, 0);
        return item ? item->text().toStdString() : std::string();
    }
    fs::path dev;
    void SetUp() override {
        WindowTest::SetUp();
        dev = dir / "dev";
    }
};

TEST_F(DevicesTest, PluggedDevicesComeAndGoWhileTheDialogIsUp) {
    Plug("ttyUSB0");
    fs::create_directories(dev / "serial/by-id");
    fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_A1-if00-port0");
    TdlgDevices d(nullptr, {"/dev/ttyS0", "", "", ""}, [this] { return List(); });
    ASSERT_EQ(d.lstDevices->rowCount(), 2);
    EXPECT_EQ(Row(d, 0), (dev / "serial/by-id/usb-FTDI_A1-if00-port0").string()) << "by-id first";
    Plug("ttyACM0");
    EXPECT_TRUE(PumpUntil([&] { return d.lstDevices->rowCount() == 3; }, 3000));
    fs::remove(dev / "ttyACM0");
    EXPECT_TRUE(PumpUntil([&] { return d.lstDevices->rowCount() == 2; }, 3000));
}

TEST_F(DevicesTest, AnAssignedLinkIsKeptAsTheLinkAndWrittenBack) {
    WriteSettings("[Comms]\nPort=1\n");
    TfrmVolmar& w = Start();
    // COM2 gets a listed by-id link (stored as the link).
    const std::string link = "/dev/serial/by-id/usb-FTDI_A1-if00-port0";
    const std::string typed = line->DevicePath();
    bool ran = false;
    QTimer::singleShot(0, [&] {
        PumpUntil([] { return QApplication::activeModalWidget() != nullptr; });
        auto* d = qobject_cast<TdlgDevices*>(QApplication::activeModalWidget());
        if (!d) return;
        ran = true;
        d->lstDevices->setRowCount(1);
        d->lstDevices->setItem(0, 0, new QTableWidgetItem(QString::fromStdString(link)));
        d->Assign(0, 1);
        d->accept();
    });
    w.mnuDevices->trigger();
    ASSERT_TRUE(ran);
    EXPECT_EQ(DevicePathForCom(2), link);
    EXPECT_EQ(w.cmbxComPort->itemData(2, Qt::ToolTipRole).toString().toStdString(), "COM2 is " + link);
    EXPECT_TRUE(w.Monitor().ComPortPlus().Open()) << "COM1 is untouched";
    EXPECT_EQ(DevicePathForCom(1), typed);
    Close();
    const std::string ini = ReadFile(kSettingsFileName);
    EXPECT_NE(ini.find("COM2=" + link + "\n"), std::string::npos);
    EXPECT_NE(ini.find("COM1=" + typed + "\n"), std::string::npos) << "the rest as it was";
}

} // namespace
} // namespace volmar::testing

// The device listing over a fake /dev and /sys/class/tty in a scratch folder.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <utility>

#include "serial/device_list.h"
#include "support/file_fixtures.h"

namespace volmar {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& File, const std::string& Text) {
    fs::create_directories(File.parent_path());
    std::ofstream(File) << Text;
}

TEST(DeviceList, GroupsInOrderLinksKeptAsLinksAndDanglingOnesLeftOut) {
    test::TScratchFolder scratch;
    const fs::path root = fs::canonical(scratch.Path());
    const fs::path dev = root / "dev", sys = root / "sys";
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyUSBx", "tty0"})
        Write(dev / name, "");
    Write(sys / "ttyS0" / "type", "4\n");
    Write(sys / "ttyS1" / "type", "0\n");  // a slot with no UART
    int master = -1, slave = -1;
    char pts[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, pts, nullptr, nullptr), 0);
    fs::create_directories(dev / "serial" / "by-id");
    fs::create_directories(dev / "serial" / "by-path");
    fs::create_symlink("../../ttyUSB2", dev / "serial/by-id/usb-FTDI_FT232R_A1-if00-port0");
    fs::create_symlink("../../ttyUSB9", dev / "serial/by-id/usb-Gone_B2-if00-port0");
    fs::create_symlink(pts, dev / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    fs::create_symlink(pts, dev / "ttyACM1");

    TSerialDevice known;
    known.Node = (dev / "ttyUSB2").string();
    known.Description = "FT232R USB UART";
    known.VendorId = 0x0403;
    const TDeviceRoots roots{dev, sys, "/proc", [&] { return std::vector{known}; }};
    const std::vector<TSerialDevice> devices = ListSerialDevices(roots);
    ::close(slave);
    ::close(master);

    std::vector<std::pair<std::string, std::string>> got;
    for (const TSerialDevice& d : devices) got.emplace_back(d.Path, d.Node);
    const std::string usb2 = (dev / "ttyUSB2").string();
    const decltype(got) expected{
        {(dev / "serial/by-id/usb-FTDI_FT232R_A1-if00-port0").string(), usb2},
        {(dev / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0").string(), pts},
        {usb2, usb2},
        {(dev / "ttyUSB10").string(), (dev / "ttyUSB10").string()},
        {(dev / "ttyACM0").string(), (dev / "ttyACM0").string()},
        {(dev / "ttyACM1").string(), pts},
        {(dev / "ttyS0").string(), (dev / "ttyS0").string()},
    };
    ASSERT_EQ(got, expected);
    // What the system knows of a node goes with every name for it.
    for (std::size_t i : {0u, 2u}) {
        EXPECT_EQ(devices[i].Description, "FT232R USB UART");
        EXPECT_EQ(devices[i].VendorId, 0x0403);
    }
    EXPECT_EQ(devices[3].Description, "");
    EXPECT_FALSE(devices[3].VendorId);
}

} // namespace
} // namespace volmar

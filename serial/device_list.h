// The serial devices present on this computer, for the operator to assign to
// the COM numbers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace volmar {

struct TSerialDevice {
    // What the operator would store: a /dev/serial/by-id link, a by-path
    // link, or a node such as /dev/ttyUSB0.
    std::string Path;
    // The device node it stands for; Path when that is not a link.
    std::string Node;
    // Empty where the system does not know.
    std::string Description, Manufacturer, SerialNumber;
    std::optional<std::uint16_t> VendorId, ProductId;
};

// What the system's device manager knows of each serial node (Node, the
// description fields and the USB ids; Path is the node), from
// QSerialPortInfo.
std::vector<TSerialDevice> KnownSerialNodes();

// Where the listing looks. Tests point it at folders of fake entries.
struct TDeviceRoots {
    std::filesystem::path Dev = "/dev";
    std::filesystem::path SysClassTty = "/sys/class/tty";
    std::filesystem::path Proc = "/proc";
    // The description fields come from here, matched by Node; nothing
    // matches a node outside the real /dev.
    std::function<std::vector<TSerialDevice>()> Known = KnownSerialNodes;
};

// Whether the ttySn node Name ("ttyS0") has a UART behind it, rather than
// being a slot the driver reserved with nothing there.
bool SerialSlotHasPort(const std::string& Name, const TDeviceRoots& Roots = {});

// The serial devices present: /dev/serial/by-id links first (they survive
// re-plugging and renumbering), then /dev/serial/by-path links, then
// ttyUSB*, ttyACM*, and the ttyS* with a port behind them; each group in
// name order, numbers by value (ttyUSB2 before ttyUSB10). A link whose
// device is gone is left out.
std::vector<TSerialDevice> ListSerialDevices(const TDeviceRoots& Roots = {});

} // namespace volmar

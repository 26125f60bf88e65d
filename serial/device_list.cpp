#include "serial/device_list.h"

#include <QFile>
#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <string_view>

namespace volmar {

namespace fs = std::filesystem;

namespace {

bool IsDigit(char C) { return std::isdigit(static_cast<unsigned char>(C)) != 0; }

// Runs of digits compare by their value, so ttyUSB2 comes before ttyUSB10.
bool NameLess(std::string_view A, std::string_view B) {
    std::size_t i = 0, j = 0;
    while (i < A.size() && j < B.size()) {
        if (!IsDigit(A[i]) || !IsDigit(B[j])) {
            if (A[i] != B[j])
                return static_cast<unsigned char>(A[i]) < static_cast<unsigned char>(B[j]);
            ++i;
            ++j;
            continue;
        }
        const std::size_t iEnd = std::find_if_not(A.begin() + i, A.end(), IsDigit) - A.begin();
        const std::size_t jEnd = std::find_if_not(B.begin() + j, B.end(), IsDigit) - B.begin();
        while (i + 1 < iEnd && A[i] == '0') ++i;
        while (j + 1 < jEnd && B[j] == '0') ++j;
        const std::string_view a = A.substr(i, iEnd - i), b = B.substr(j, jEnd - j);
        if (a.size() != b.size()) return a.size() < b.size();
        if (a != b) return a < b;
        i = iEnd;
        j = jEnd;
    }
    return A.size() - i < B.size() - j;
}

void SortByPath(std::vector<TSerialDevice>& Group) {
    std::sort(Group.begin(), Group.end(), [](const TSerialDevice& A, const TSerialDevice& B) {
        return NameLess(A.Path, B.Path);
    });
}

// The entry for Path, whose node is the one it links to, or nothing when a
// link's device is gone.
std::optional<TSerialDevice> Entry(const fs::directory_entry& Path) {
    TSerialDevice device;
    device.Path = device.Node = Path.path().string();
    std::error_code ec;
    if (!Path.is_symlink(ec)) return device;
    const fs::path node = fs::canonical(Path.path(), ec);
    if (ec) return std::nullopt;
    device.Node = node.string();
    return device;
}

std::vector<TSerialDevice> Links(const fs::path& Folder) {
    std::vector<TSerialDevice> group;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(Folder, ec)) {
        std::error_code linkEc;
        if (!entry.is_symlink(linkEc)) continue;
        if (auto device = Entry(entry)) group.push_back(std::move(*device));
    }
    SortByPath(group);
    return group;
}

bool NumberedName(const std::string& Name, std::string_view Prefix) {
    return Name.size() > Prefix.size() && Name.starts_with(Prefix) &&
           std::all_of(Name.begin() + static_cast<std::ptrdiff_t>(Prefix.size()), Name.end(),
                       IsDigit);
}

std::vector<TSerialDevice> Nodes(const TDeviceRoots& Roots, std::string_view Prefix) {
    std::vector<TSerialDevice> group;
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(Roots.Dev, ec)) {
        const std::string name = entry.path().filename().string();
        if (!NumberedName(name, Prefix)) continue;
        if (Prefix == "ttyS" && !SerialSlotHasPort(name, Roots)) continue;
        if (auto device = Entry(entry)) group.push_back(std::move(*device));
    }
    SortByPath(group);
    return group;
}

} // namespace

// The kernel makes a ttySn node for every slot the 8250 driver reserves
// (often 4 or 32), whether or not a UART answered there. The serial core
// publishes each port's UART type in sysfs, 0 (PORT_UNKNOWN) for an empty
// slot. Sysfs is readable by every user and needs no open of the device,
// which TIOCGSERIAL would (and an open needs the device's group and may
// stall on a slot without hardware).
bool SerialSlotHasPort(const std::string& Name, const TDeviceRoots& Roots) {
    std::ifstream in(Roots.SysClassTty / Name / "type");
    int type = 0;
    return static_cast<bool>(in >> type) && type != 0;
}

std::vector<TSerialDevice> KnownSerialNodes() {
    std::vector<TSerialDevice> known;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        TSerialDevice device;
        device.Node = device.Path = QFile::encodeName(info.systemLocation()).toStdString();
        device.Description = info.description().toStdString();
        device.Manufacturer = info.manufacturer().toStdString();
        device.SerialNumber = info.serialNumber().toStdString();
        if (info.hasVendorIdentifier()) device.VendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier()) device.ProductId = info.productIdentifier();
        known.push_back(std::move(device));
    }
    return known;
}

std::vector<TSerialDevice> ListSerialDevices(const TDeviceRoots& Roots) {
    std::vector<TSerialDevice> devices;
    for (const std::vector<TSerialDevice>& group :
         {Links(Roots.Dev / "serial" / "by-id"), Links(Roots.Dev / "serial" / "by-path"),
          Nodes(Roots, "ttyUSB"), Nodes(Roots, "ttyACM"), Nodes(Roots, "ttyS")})
        devices.insert(devices.end(), group.begin(), group.end());

    std::map<std::string, TSerialDevice> known;
    if (Roots.Known)
        for (TSerialDevice& facts : Roots.Known()) known[facts.Node] = std::move(facts);
    for (TSerialDevice& device : devices) {
        const auto it = known.find(device.Node);
        if (it == known.end()) continue;
        device.Description = it->second.Description;
        device.Manufacturer = it->second.Manufacturer;
        device.SerialNumber = it->second.SerialNumber;
        device.VendorId = it->second.VendorId;
        device.ProductId = it->second.ProductId;
    }
    return devices;
}

} // namespace volmar

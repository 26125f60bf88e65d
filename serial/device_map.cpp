#include "serial/device_map.h"

#include <map>
#include <mutex>

namespace volmar {

namespace {
std::mutex mapLock;
std::map<std::uint16_t, std::string>& Map() {
    static std::map<std::uint16_t, std::string> paths;
    return paths;
}
} // namespace

std::string DevicePathForCom(std::uint16_t ComNumber) {
    std::lock_guard lock(mapLock);
    const auto it = Map().find(ComNumber);
    if (it != Map().end()) return it->second;
    return "/dev/ttyS" + std::to_string(ComNumber > 0 ? ComNumber - 1 : 0);
}

void SetDevicePathForCom(std::uint16_t ComNumber, const std::string& Path) {
    std::lock_guard lock(mapLock);
    if (Path.empty())
        Map().erase(ComNumber);
    else
        Map()[ComNumber] = Path;
}

void ClearDevicePaths() {
    std::lock_guard lock(mapLock);
    Map().clear();
}

} // namespace volmar

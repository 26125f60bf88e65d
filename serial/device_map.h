// Which device each COM number names: /dev/ttyS0 for COM1 and so on,
// unless the program maps it elsewhere (its settings' "Devices" section).
#pragma once

#include <cstdint>
#include <string>

namespace volmar {

std::string DevicePathForCom(std::uint16_t ComNumber);
// An empty path restores the default.
void SetDevicePathForCom(std::uint16_t ComNumber, const std::string& Path);
void ClearDevicePaths();

} // namespace volmar

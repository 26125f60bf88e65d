#include "serial/device_layer.h"

#include "serial/posix_device_layer.h"
#include "serial/virtual_line.h"

namespace volmar {

std::unique_ptr<IDeviceLayer> CreateDeviceLayerFor(const std::string& Path) {
    if (Path.starts_with("virtual:")) return CreateVirtualDeviceLayer();
    return std::make_unique<TPosixDeviceLayer>();
}

} // namespace volmar

// What a failed open of a serial device means to the operator, and what to
// do about it: the line the port adds under its error message.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "serial/device_list.h"

namespace volmar {

struct TDeviceHolder {
    int Pid = 0;
    std::string Name;  // the process's command name
};

// The processes that have the device at Path open, in pid order, as far as
// this user may look (other users' descriptors are closed to all but root).
std::vector<TDeviceHolder> DeviceHolders(const std::string& Path,
                                         const std::filesystem::path& Proc = "/proc");

// Where the operator gives a COM number another device, as the detail
// words it after "assign another to COM N": the window's dialog unless the
// program runs without one.
void SetDeviceChoiceHint(std::string Hint);

// The detail for an open of Path that failed with the system error
// ErrorNumber, Path being the device of COM ComNumber (0: a device the
// port was given by path). Says which device it is, why it failed (missing,
// closed to this user, held by another process, not a serial port) and
// what to do about it, or else the system's reason.
std::string OpenFailureDetail(int ErrorNumber, std::uint16_t ComNumber, const std::string& Path,
                              const TDeviceRoots& Roots = {});

} // namespace volmar

// The driver list: one numbered entry per listed device that has hardware
// identifiers, in the text form the driver-identification service reads; and
// the scan data built on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "devices/device_inventory.h"

namespace devices {

// Entries "CR LF driver_N=name[;]...[;]problem" for the records with hardware
// ids, or "" when none has one or none has an INF path.
std::wstring FormatDriverList(const std::vector<DeviceRecord>& records);

// The driver list, CR LF, the computer information block and the line naming
// the ANSI code page; "" (and the block not collected) when the list is empty.
std::wstring CollectScanData(DeviceInventory& inventory,
                             const std::function<std::wstring()>& collect_computer_info);

}  // namespace devices

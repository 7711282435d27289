// The present devices of a Linux system as Windows would list them: PCI
// devices, USB devices and the interfaces of composite ones, ACPI devices
// with PNP/ACPI ids; with Windows-format identifiers, setup class, driver key
// and the facts of the bound kernel driver.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "devices/linux/module_catalog.h"

namespace devices::linux_sys {

struct LinuxDevice {
  std::string description;  // UTF-8
  std::vector<std::string> hardware_ids;
  std::vector<std::string> compatible_ids;
  std::string class_name;     // Windows setup class; "" without a driver
  std::string class_guid;     // "{...}" upper case; "" without a driver
  std::string driver_key;     // "{GUID}\NNNN"; "" without a driver
  std::uint32_t problem = 0;  // 0, or 28 (drivers not installed)
  DriverFacts driver;         // for a device with a driver
  std::string sysfs_name;     // where it was found, for diagnostics
};

// Reads everything under `root` (sys, proc, lib/modules, usr/share ...).
std::vector<LinuxDevice> ScanDevices(const std::filesystem::path& root);

}  // namespace devices::linux_sys

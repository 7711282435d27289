// The Linux adapter of the device port: sysfs devices straight into device
// records.
#pragma once

#include <filesystem>
#include <vector>

#include "devices/device_inventory.h"
#include "devices/linux/sysfs_inventory.h"

namespace devices::linux_sys {

// One device as the report lists it: text kept to one line, ids Windows
// could not have left out, the bound driver's facts.
DeviceRecord ToDeviceRecord(const LinuxDevice& device);

// The devices under a root folder ("/" on a running system).
class SysfsInventory : public DeviceInventory {
 public:
  explicit SysfsInventory(std::filesystem::path root) : root_(std::move(root)) {}
  std::vector<DeviceRecord> ListDevices() override;

 private:
  std::filesystem::path root_;
};

}  // namespace devices::linux_sys

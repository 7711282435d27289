// This platform's devices: one sysfs snapshot behind both the device set and
// the class-key registry, so driver keys agree between them.
#include <memory>

#include "devices/device_api.h"
#include "devices/linux/sysfs_device_api.h"
#include "devices/linux/sysfs_registry.h"
#include "devices/linux/sysroot.h"

namespace devices {

PlatformDevices MakePlatformDevices() {
  auto snapshot = std::make_shared<const std::vector<linux_sys::LinuxDevice>>(
      linux_sys::ScanDevices(linux_sys::SysRoot()));
  auto registry = std::make_unique<linux_sys::SysfsRegistry>(*snapshot);
  return {std::make_unique<linux_sys::SysfsDeviceApi>(std::move(snapshot)), std::move(registry)};
}

}  // namespace devices

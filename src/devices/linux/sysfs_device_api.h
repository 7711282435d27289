// The device port over a snapshot of the Linux device inventory, answering
// as the setup API does (properties in the ANSI code page, 122/13 errors).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_api.h"
#include "devices/linux/sysfs_inventory.h"

namespace devices::linux_sys {

class SysfsDeviceApi : public DeviceApi {
 public:
  explicit SysfsDeviceApi(std::shared_ptr<const std::vector<LinuxDevice>> devices);

  DeviceSet GetClassDevs(std::uint32_t flags) override;
  bool EnumDeviceInfo(DeviceSet set, std::uint32_t index, DeviceInfoData* data) override;
  bool GetDeviceRegistryProperty(DeviceSet set, const DeviceInfoData& data, std::uint32_t property,
                                 std::uint32_t* reg_type, std::uint8_t* buffer,
                                 std::uint32_t buffer_size, std::uint32_t* required_size) override;
  std::uint32_t LastError() override { return last_error_; }
  std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                 std::uint32_t dev_inst, std::uint32_t flags) override;
  bool DestroyDeviceInfoList(DeviceSet set) override;

 private:
  bool Fail(std::uint32_t error) {
    last_error_ = error;
    return false;
  }
  const LinuxDevice* DeviceOf(std::uint32_t dev_inst) const;

  std::shared_ptr<const std::vector<LinuxDevice>> devices_;
  std::map<DeviceSet, bool> sets_;
  DeviceSet next_set_ = 1;
  std::uint32_t last_error_ = 0;
};

}  // namespace devices::linux_sys

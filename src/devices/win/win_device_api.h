// The device port over the setup API and the configuration manager.
#pragma once

#include "devices/win/procedures/device_api.h"

namespace devices {

class WinDeviceApi : public DeviceApi {
 public:
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
  std::uint32_t last_error_ = 0;
};

}  // namespace devices

// A present-device set in memory, answering as the setup API and
// configuration manager do: a property read with a zero buffer fails with
// 122 and the type and size, an absent property fails with 13, the
// enumeration ends with 259. Failures can be injected per property.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "devices/win/procedures/device_api.h"

namespace fakes {

class FakeDeviceApi : public devices::DeviceApi {
 public:
  struct Property {
    std::uint32_t type = devices::kRegSz;
    std::vector<std::uint8_t> data;
    std::uint32_t size_query_error = 0;    // non-zero: the size query fails with this error
    bool size_query_succeeds = false;      // the size query returns TRUE
    std::uint32_t read_error = 0;          // non-zero: the second read fails with this error
    std::uint32_t size_overstatement = 0;  // the size query announces this many bytes more
  };
  struct Device {
    std::map<std::uint32_t, Property> properties;
    std::uint32_t status = devices::kDnDriverLoaded | devices::kDnStarted;
    std::uint32_t problem = 0;
    std::uint32_t status_result = devices::kCrSuccess;
  };

  static Property Sz(const std::string& ansi) {
    Property p;
    p.data.assign(ansi.begin(), ansi.end());
    p.data.push_back(0);
    return p;
  }
  static Property MultiSz(const std::vector<std::string>& items) {
    Property p;
    p.type = devices::kRegMultiSz;
    for (const std::string& s : items) {
      p.data.insert(p.data.end(), s.begin(), s.end());
      p.data.push_back(0);
    }
    p.data.push_back(0);
    return p;
  }

  std::vector<Device> devices;
  bool class_devs_fails = false;
  std::uint32_t class_devs_flags = 0;
  int sets_destroyed = 0;
  std::uint32_t cb_size_seen = 0;
  std::uint32_t enum_fail_at = UINT32_MAX;  // the enumeration fails early here

  devices::DeviceSet GetClassDevs(std::uint32_t flags) override {
    class_devs_flags = flags;
    if (class_devs_fails) return devices::kInvalidDeviceSet;
    return 0x5e7;
  }
  bool EnumDeviceInfo(devices::DeviceSet set, std::uint32_t index,
                      devices::DeviceInfoData* data) override {
    cb_size_seen = data->cbSize;
    if (set != 0x5e7) return Fail(6);
    if (index >= devices.size() || index >= enum_fail_at) return Fail(259);
    data->DevInst = 100 + index;
    return true;
  }
  bool GetDeviceRegistryProperty(devices::DeviceSet, const devices::DeviceInfoData& data,
                                 std::uint32_t property, std::uint32_t* reg_type,
                                 std::uint8_t* buffer, std::uint32_t buffer_size,
                                 std::uint32_t* required_size) override {
    Device& d = devices.at(data.DevInst - 100);
    auto it = d.properties.find(property);
    if (it == d.properties.end()) {
      *reg_type = 0;
      return Fail(devices::kErrorInvalidData);
    }
    const Property& p = it->second;
    if (buffer == nullptr) {
      if (p.size_query_succeeds) return true;
      if (p.size_query_error != 0) return Fail(p.size_query_error);
    }
    *reg_type = p.type;
    *required_size = static_cast<std::uint32_t>(p.data.size());
    if (buffer == nullptr) *required_size += p.size_overstatement;
    if (buffer_size < p.data.size()) return Fail(devices::kErrorInsufficientBuffer);
    if (p.read_error != 0) return Fail(p.read_error);
    std::memcpy(buffer, p.data.data(), p.data.size());
    return true;
  }
  std::uint32_t LastError() override { return last_error_; }
  std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                 std::uint32_t dev_inst, std::uint32_t) override {
    const Device& d = devices.at(dev_inst - 100);
    if (d.status_result != devices::kCrSuccess) return d.status_result;
    *status = d.status;
    *problem = d.problem;
    return devices::kCrSuccess;
  }
  bool DestroyDeviceInfoList(devices::DeviceSet) override {
    ++sets_destroyed;
    return true;
  }

 private:
  bool Fail(std::uint32_t error) {
    last_error_ = error;
    return false;
  }
  std::uint32_t last_error_ = 0;
};

}  // namespace fakes

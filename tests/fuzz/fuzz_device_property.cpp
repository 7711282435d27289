// Device properties as the setup API may deliver them: any type, a size
// announced that differs from what the second read delivers and reports,
// multi-strings with stale bytes after their end or without their NULs.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "devices/win/procedures/driver_collection.h"
#include "fakes/fake_device_ui.h"
#include "fakes/fake_registry.h"
#include "fuzz_input.h"

namespace {

struct Script {
  std::uint32_t type = 0;
  std::uint32_t announced = 0;
  std::uint32_t reported = 0;
  bool second_fails = false;
  std::string bytes;
};

class ScriptedDevices : public devices::DeviceApi {
 public:
  std::map<std::uint32_t, Script> properties;
  devices::DeviceSet GetClassDevs(std::uint32_t) override { return 1; }
  bool EnumDeviceInfo(devices::DeviceSet, std::uint32_t index,
                      devices::DeviceInfoData* d) override {
    if (index > 0) return Fail(259);
    d->DevInst = 1;
    return true;
  }
  bool GetDeviceRegistryProperty(devices::DeviceSet, const devices::DeviceInfoData&,
                                 std::uint32_t property, std::uint32_t* reg_type,
                                 std::uint8_t* buffer, std::uint32_t buffer_size,
                                 std::uint32_t* required) override {
    auto it = properties.find(property);
    if (it == properties.end()) return Fail(devices::kErrorInvalidData);
    const Script& s = it->second;
    *reg_type = s.type;
    if (buffer == nullptr) {
      *required = s.announced;
      return Fail(devices::kErrorInsufficientBuffer);
    }
    // Never past the buffer; everything else about the answer is open.
    std::memcpy(buffer, s.bytes.data(), std::min<std::size_t>(buffer_size, s.bytes.size()));
    *required = s.reported;
    return s.second_fails ? Fail(31) : true;
  }
  std::uint32_t LastError() override { return error_; }
  std::uint32_t GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem, std::uint32_t,
                                 std::uint32_t) override {
    *status = devices::kDnStarted;
    *problem = 0;
    return devices::kCrSuccess;
  }
  bool DestroyDeviceInfoList(devices::DeviceSet) override { return true; }

 private:
  bool Fail(std::uint32_t e) {
    error_ = e;
    return false;
  }
  std::uint32_t error_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::uint32_t kProperties[] = {
      devices::kSpdrpHardwareId, devices::kSpdrpCompatibleIds, devices::kSpdrpDeviceDesc,
      devices::kSpdrpDriver, devices::kSpdrpClass};
  const auto fields = fuzz::Fields(data, size, std::size(kProperties));
  ScriptedDevices api;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    if (f.size() < 5) continue;
    Script s;
    s.type = static_cast<std::uint8_t>(f[0]) & 0x07;
    s.announced = static_cast<std::uint8_t>(f[1]) | static_cast<std::uint8_t>(f[2]) << 8;
    s.reported = static_cast<std::uint8_t>(f[3]);
    s.second_fails = (f[4] & 1) != 0;
    s.bytes = f.substr(5);
    api.properties[kProperties[i]] = s;
  }
  fakes::FakeDeviceUi ui;
  devices::DeviceInfoData d;
  api.EnumDeviceInfo(1, 0, &d);
  for (std::uint32_t p : kProperties) {
    const std::wstring text = devices::GetDeviceProperty(api, 1, d, p, ui);
    const Script& s = api.properties[p];
    if (s.type == devices::kRegMultiSz && !text.empty()) {
      // Strings each with one NUL, no empty one among them.
      fuzz::Require(text.back() == L'\0' && text.front() != L'\0');
      fuzz::Require(text.find(std::wstring(2, L'\0')) == std::wstring::npos);
    }
    if (s.type == devices::kRegSz) fuzz::Require(text.find(L'\0') == std::wstring::npos);
    // Never more than announced, but for the NUL a multi-string without its
    // own is given.
    if (s.type != devices::kRegDword && s.type != devices::kRegDwordBigEndian) {
      fuzz::Require(text.size() <= s.announced + 1);
    }
  }
  fakes::FakeRegistry registry;
  registry.PutString(devices::kHkeyLocalMachine, "System\\ControlSet001\\Control\\Class\\{X}\\0000",
                     "InfPath", "x.inf");
  devices::CollectDriverList(api, registry, ui);
  return 0;
}

#include "devices/linux/sysfs_device_api.h"

#include <cstring>

#include "devices/linux/sysroot.h"
#include "platform/codepage.h"

namespace devices::linux_sys {
namespace {

constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNoMoreItems = 259;

// sysfs text is UTF-8; the ANSI property reads get it in the code page. A
// NUL would end the string early, so the text stops there; a control
// character (a line break would start a line of the driver list) becomes a
// space.
std::string Ansi(const std::string& utf8) {
  std::string text = platform::ToAnsi(platform::FromUtf8(utf8.substr(0, utf8.find('\0'))));
  ControlsToSpaces(text);
  return text;
}

// What Windows allows in a hardware or compatible id: characters above space
// and below 0x7F, no comma. Garbage in sysfs makes ids that are left out.
bool IsWindowsId(const std::string& id) {
  if (id.empty()) return false;
  for (char c : id) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F || c == ',') return false;
  }
  return true;
}

// A property's registry type and bytes; type 0 when the device lacks it.
std::pair<std::uint32_t, std::string> PropertyOf(const LinuxDevice& d, std::uint32_t property) {
  auto sz = [](const std::string& s) {
    return s.empty() ? std::pair<std::uint32_t, std::string>{0, ""}
                     : std::pair<std::uint32_t, std::string>{kRegSz, Ansi(s) + '\0'};
  };
  auto multi = [](const std::vector<std::string>& items) {
    // An empty string would end the multi-string there: it is left out,
    // like an id Windows could not have.
    std::string bytes;
    for (const std::string& s : items) {
      if (IsWindowsId(s)) bytes += s + '\0';
    }
    if (bytes.empty()) return std::pair<std::uint32_t, std::string>{0, ""};
    return std::pair<std::uint32_t, std::string>{kRegMultiSz, bytes + '\0'};
  };
  switch (property) {
    case kSpdrpDeviceDesc:
      return sz(d.description);
    case kSpdrpHardwareId:
      return multi(d.hardware_ids);
    case kSpdrpCompatibleIds:
      return multi(d.compatible_ids);
    case kSpdrpClass:
      return sz(d.class_name);
    case kSpdrpDriver:
      return sz(d.driver_key);
    default:
      return {0, ""};  // no friendly names: Windows rarely has one either
  }
}

}  // namespace

SysfsDeviceApi::SysfsDeviceApi(std::shared_ptr<const std::vector<LinuxDevice>> devices)
    : devices_(std::move(devices)) {}

DeviceSet SysfsDeviceApi::GetClassDevs(std::uint32_t) {
  // Every device of the snapshot is present.
  const DeviceSet set = next_set_++;
  sets_[set] = true;
  last_error_ = 0;
  return set;
}

const LinuxDevice* SysfsDeviceApi::DeviceOf(std::uint32_t dev_inst) const {
  if (dev_inst == 0 || dev_inst > devices_->size()) return nullptr;
  return &(*devices_)[dev_inst - 1];
}

bool SysfsDeviceApi::EnumDeviceInfo(DeviceSet set, std::uint32_t index, DeviceInfoData* data) {
  if (!sets_.count(set)) return Fail(kErrorInvalidHandle);
  if (index >= devices_->size()) return Fail(kErrorNoMoreItems);
  data->DevInst = index + 1;
  last_error_ = 0;
  return true;
}

bool SysfsDeviceApi::GetDeviceRegistryProperty(DeviceSet set, const DeviceInfoData& data,
                                               std::uint32_t property, std::uint32_t* reg_type,
                                               std::uint8_t* buffer, std::uint32_t buffer_size,
                                               std::uint32_t* required_size) {
  const LinuxDevice* d = DeviceOf(data.DevInst);
  if (!sets_.count(set) || d == nullptr) return Fail(kErrorInvalidHandle);
  const auto [type, bytes] = PropertyOf(*d, property);
  *reg_type = type;
  if (type == 0) return Fail(kErrorInvalidData);
  *required_size = static_cast<std::uint32_t>(bytes.size());
  if (buffer == nullptr || buffer_size < bytes.size()) return Fail(kErrorInsufficientBuffer);
  std::memcpy(buffer, bytes.data(), bytes.size());
  last_error_ = 0;
  return true;
}

std::uint32_t SysfsDeviceApi::GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                               std::uint32_t dev_inst, std::uint32_t) {
  const LinuxDevice* d = DeviceOf(dev_inst);
  if (d == nullptr) return kCrNoSuchDevnode;
  *problem = d->problem;
  *status = d->problem == 0 ? (kDnDriverLoaded | kDnStarted) : kDnHasProblem;
  return kCrSuccess;
}

bool SysfsDeviceApi::DestroyDeviceInfoList(DeviceSet set) {
  if (sets_.erase(set) == 0) return Fail(kErrorInvalidHandle);
  last_error_ = 0;
  return true;
}

}  // namespace devices::linux_sys

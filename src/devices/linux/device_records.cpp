// The Linux devices as the scan's device records: the facts sysfs and the
// kernel modules gave, kept to what a report line may hold.
#include "devices/linux/device_records.h"

#include "devices/linux/sysroot.h"
#include "platform/codepage.h"
#include "platform/linux/sysroot.h"
#include "platform/text.h"

namespace devices::linux_sys {
namespace {

// sysfs text is UTF-8 and ends at a NUL; a control character (a line break
// would start a line of the driver list) becomes a space.
std::wstring Line(const std::string& utf8) {
  std::string text = utf8.substr(0, utf8.find('\0'));
  ControlsToSpaces(text);
  return platform::FromUtf8(text);
}

// A driver fact, as the class key of the installed driver would hand it back: up to a NUL,
// without surrounding spaces.
std::wstring Fact(const std::string& utf8) {
  return std::wstring(platform::TrimSpaces(platform::FromUtf8(utf8.substr(0, utf8.find('\0')))));
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

std::vector<std::wstring> Ids(const std::vector<std::string>& ids) {
  std::vector<std::wstring> out;
  for (const std::string& id : ids) {
    if (IsWindowsId(id)) out.emplace_back(id.begin(), id.end());
  }
  return out;
}

}  // namespace

DeviceRecord ToDeviceRecord(const LinuxDevice& d) {
  DeviceRecord r;
  r.name = Line(d.description);
  r.hardware_ids = Ids(d.hardware_ids);
  r.compatible_ids = Ids(d.compatible_ids);
  if (!r.hardware_ids.empty()) r.device_id = r.hardware_ids.front();
  r.driver_key = Line(d.driver_key);
  r.device_class = Line(d.class_name);
  r.problem = static_cast<std::uint16_t>(d.problem);
  if (!d.driver_key.empty()) {
    r.version = Fact(d.driver.version);
    r.date = Fact(d.driver.date);
    r.provider = Fact(d.driver.provider);
    r.inf_path = Fact(d.driver.inf_path);
    r.matching_id = Fact(d.driver.matching_id);
  }
  return r;
}

std::vector<DeviceRecord> SysfsInventory::ListDevices() {
  std::vector<DeviceRecord> records;
  for (const LinuxDevice& d : ScanDevices(root_)) records.push_back(ToDeviceRecord(d));
  return records;
}

}  // namespace devices::linux_sys

namespace devices {

std::unique_ptr<DeviceInventory> MakeDeviceInventory(DeviceUi&) {
  // Nothing to tell the window: sysfs has no unreadable properties to report.
  return std::make_unique<linux_sys::SysfsInventory>(platform::SysRoot());
}

}  // namespace devices

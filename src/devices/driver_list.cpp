#include "devices/driver_list.h"

#include "platform/codepage.h"
#include "report/wire_format.h"

namespace devices {

std::wstring FormatDriverList(const std::vector<DeviceRecord>& records) {
  std::wstring list;
  std::uint32_t number = 0;
  bool has_inf = false;
  for (const DeviceRecord& d : records) {
    if (d.hardware_ids.empty()) continue;
    if (!d.inf_path.empty()) has_inf = true;
    report::DriverEntry entry;
    entry.name = d.name.empty() ? std::wstring_view(report::kUnknownDeviceName) : d.name;
    entry.version = d.version;
    entry.provider = d.provider;
    entry.date = d.date;
    entry.device_id = d.device_id;
    entry.driver_key = d.driver_key;
    entry.device_class = d.device_class;
    entry.inf_path = d.inf_path;
    entry.hardware_ids = &d.hardware_ids;
    entry.compatible_ids = &d.compatible_ids;
    entry.matching_id = d.matching_id;
    entry.problem = d.problem;
    report::AppendDriverEntry(list, ++number, entry);
  }
  // Without a single installed driver the list tells the service nothing.
  if (!has_inf) list.clear();
  return list;
}

std::wstring CollectScanData(DeviceInventory& inventory,
                             const std::function<std::wstring()>& collect_computer_info) {
  std::wstring list = FormatDriverList(inventory.ListDevices());
  if (list.empty()) return list;
  list += report::kLineBreak;
  list += collect_computer_info();
  // Last, so that the computer block still starts with one of its own labels.
  report::AppendCodePageLine(list, platform::AnsiCodePage());
  return list;
}

}  // namespace devices

// The device port: the present devices of this computer and their installed
// drivers, as the scan reports them. Each platform fills the records in its
// own way (Windows: SetupAPI and the class keys; Linux: sysfs and the kernel
// modules); the driver list is written from them alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "devices/device_ui.h"

namespace devices {

// The problem of a device whose drivers are not installed (CM_PROB_FAILED_INSTALL).
inline constexpr std::uint16_t kProblemDriverNotInstalled = 28;

struct DeviceRecord {
  std::wstring name;     // friendly name or description; "" when it has neither
  std::wstring version;  // the installed driver's facts; "" without a driver
  std::wstring provider;
  std::wstring date;        // month-day-year, as Windows records it
  std::wstring device_id;   // the first hardware id, as the driver list names the device
  std::wstring driver_key;  // "{class GUID}\NNNN"; "" without a driver
  std::wstring device_class;
  std::wstring inf_path;
  std::vector<std::wstring> hardware_ids;
  std::vector<std::wstring> compatible_ids;
  std::wstring matching_id;
  std::uint16_t problem = 0;  // Device Manager's problem number; 0 when working
};

class DeviceInventory {
 public:
  virtual ~DeviceInventory() = default;
  // The present devices Device Manager would show, in enumeration order.
  virtual std::vector<DeviceRecord> ListDevices() = 0;
};

// This platform's inventory, taken when ListDevices is called. `ui` hears of
// unreadable properties and gets the chance to process pending messages; it
// must outlive the inventory.
std::unique_ptr<DeviceInventory> MakeDeviceInventory(DeviceUi& ui);

}  // namespace devices

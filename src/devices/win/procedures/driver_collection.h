// Windows' own way to the device records: the present-device set through the
// setup API, each device's driver values from its class key in the registry.
// Written against the thin Win32-shaped seams (DeviceApi, Registry) so it is
// tested natively with fakes and under Wine with the real calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/device_inventory.h"
#include "devices/device_ui.h"
#include "devices/win/procedures/device_api.h"
#include "devices/win/procedures/registry.h"

namespace devices {

inline constexpr wchar_t kPropertyReadFailedText[] = L"Error while dermitting Regestryproperty";
inline constexpr wchar_t kPropertyQueryFailedText[] = L"Error, can't get Regestryproperty";

// The records of the present devices Device Manager shows (neither hidden
// nor gone), in enumeration order; none when the set can't be made.
std::vector<DeviceRecord> CollectDeviceRecords(DeviceApi& api, Registry& registry, DeviceUi& ui);

// The driver list of the present devices (FormatDriverList of the records).
std::wstring CollectDriverList(DeviceApi& api, Registry& registry, DeviceUi& ui);

// One property as text: a string up to its NUL; a multi-string's strings up
// to its empty string, each followed by a NUL. "" when absent (silently) or
// unreadable (after a message). With `device_gone`, a device that has been
// removed meanwhile sets it to true instead of raising a message.
std::wstring GetDeviceProperty(DeviceApi& api, DeviceSet set, const DeviceInfoData& data,
                               std::uint32_t property, DeviceUi& ui, bool* device_gone = nullptr);

// The device's problem number (0 unless its status says it has a problem),
// or -1 when the device node does not exist.
std::int16_t GetDeviceProblem(DeviceApi& api, std::uint32_t dev_inst);

// True for a device that Device Manager does not show.
bool IsDeviceHidden(DeviceApi& api, std::uint32_t dev_inst);

// The inventory over the two seams; both must outlive it.
class SetupApiInventory : public DeviceInventory {
 public:
  SetupApiInventory(DeviceApi& api, Registry& registry, DeviceUi& ui)
      : api_(api), registry_(registry), ui_(ui) {}
  std::vector<DeviceRecord> ListDevices() override {
    return CollectDeviceRecords(api_, registry_, ui_);
  }

 private:
  DeviceApi& api_;
  Registry& registry_;
  DeviceUi& ui_;
};

}  // namespace devices

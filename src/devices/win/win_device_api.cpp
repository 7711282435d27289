#include "devices/win/win_device_api.h"

// windows.h first: the setup API headers need its types.
// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
// clang-format on

#include <cstring>

#include "devices/win/procedures/driver_collection.h"
#include "devices/win/win_registry.h"

namespace devices {
namespace {

HDEVINFO ToSet(DeviceSet s) {
  return reinterpret_cast<HDEVINFO>(s);
}

SP_DEVINFO_DATA ToNative(const DeviceInfoData& d) {
  SP_DEVINFO_DATA n{};
  n.cbSize = d.cbSize;
  std::memcpy(&n.ClassGuid, d.ClassGuid.data(), sizeof n.ClassGuid);
  n.DevInst = d.DevInst;
  n.Reserved = d.Reserved;
  return n;
}

void FromNative(const SP_DEVINFO_DATA& n, DeviceInfoData* d) {
  std::memcpy(d->ClassGuid.data(), &n.ClassGuid, sizeof n.ClassGuid);
  d->DevInst = n.DevInst;
  d->Reserved = n.Reserved;
}

}  // namespace

DeviceSet WinDeviceApi::GetClassDevs(std::uint32_t flags) {
  HDEVINFO set = SetupDiGetClassDevsW(nullptr, nullptr, nullptr, flags);
  last_error_ = GetLastError();
  return reinterpret_cast<DeviceSet>(set);
}

bool WinDeviceApi::EnumDeviceInfo(DeviceSet set, std::uint32_t index, DeviceInfoData* data) {
  SP_DEVINFO_DATA n = ToNative(*data);
  const BOOL ok = SetupDiEnumDeviceInfo(ToSet(set), index, &n);
  last_error_ = GetLastError();
  if (ok) FromNative(n, data);
  return ok != FALSE;
}

bool WinDeviceApi::GetDeviceRegistryProperty(DeviceSet set, const DeviceInfoData& data,
                                             std::uint32_t property, std::uint32_t* reg_type,
                                             std::uint8_t* buffer, std::uint32_t buffer_size,
                                             std::uint32_t* required_size) {
  SP_DEVINFO_DATA n = ToNative(data);
  DWORD type = 0;
  DWORD required = 0;
  const BOOL ok = SetupDiGetDeviceRegistryPropertyA(ToSet(set), &n, property, &type, buffer,
                                                    buffer_size, &required);
  last_error_ = GetLastError();
  *reg_type = type;
  *required_size = required;
  return ok != FALSE;
}

std::uint32_t WinDeviceApi::GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                             std::uint32_t dev_inst, std::uint32_t flags) {
  ULONG s = *status;
  ULONG p = *problem;
  const CONFIGRET rc = CM_Get_DevNode_Status(&s, &p, dev_inst, flags);
  *status = s;
  *problem = p;
  return rc;
}

bool WinDeviceApi::DestroyDeviceInfoList(DeviceSet set) {
  const BOOL ok = SetupDiDestroyDeviceInfoList(ToSet(set));
  last_error_ = GetLastError();
  return ok != FALSE;
}

namespace {

// The real seams, owned with the procedure that walks them.
class WinInventory : public DeviceInventory {
 public:
  explicit WinInventory(DeviceUi& ui) : ui_(ui) {}
  std::vector<DeviceRecord> ListDevices() override {
    WinDeviceApi api;
    WinRegistry registry;
    return CollectDeviceRecords(api, registry, ui_);
  }

 private:
  DeviceUi& ui_;
};

}  // namespace

std::unique_ptr<DeviceInventory> MakeDeviceInventory(DeviceUi& ui) {
  return std::make_unique<WinInventory>(ui);
}

}  // namespace devices

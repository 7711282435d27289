#include "devices/win/win_device_api.h"

// windows.h first: the setup API headers need its types.
// clang-format off
#include <windows.h>
#include <cfgmgr32.h>
#include <setupapi.h>
// clang-format on

#include <cstring>
#include <string>

#include "devices/win/procedures/driver_collection.h"
#include "devices/win/win_registry.h"

namespace devices {
namespace {

// SETUPAPI.dll is a KnownDLL from Windows 7 on, but not on XP: imported
// statically, a copy planted beside the program (say, in a Downloads
// folder) would be loaded there instead of the system's. So it is loaded
// once, by full path, from the system folder.
struct SetupApiLibrary {
  decltype(&SetupDiGetClassDevsW) get_class_devs = nullptr;
  decltype(&SetupDiEnumDeviceInfo) enum_device_info = nullptr;
  decltype(&SetupDiGetDeviceRegistryPropertyA) get_property = nullptr;
  decltype(&SetupDiDestroyDeviceInfoList) destroy_list = nullptr;
  decltype(&CM_Get_DevNode_Status) get_status = nullptr;
  DWORD load_error = ERROR_SUCCESS;

  SetupApiLibrary() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
      load_error = ERROR_PATH_NOT_FOUND;
      return;
    }
    const std::wstring path = std::wstring(folder, length) + L"\\setupapi.dll";
    HMODULE module = LoadLibraryW(path.c_str());  // kept for the process's life
    if (!module) {
      load_error = GetLastError();
      return;
    }
    Find(module, "SetupDiGetClassDevsW", get_class_devs);
    Find(module, "SetupDiEnumDeviceInfo", enum_device_info);
    Find(module, "SetupDiGetDeviceRegistryPropertyA", get_property);
    Find(module, "SetupDiDestroyDeviceInfoList", destroy_list);
    Find(module, "CM_Get_DevNode_Status", get_status);
    if (!get_class_devs || !enum_device_info || !get_property || !destroy_list || !get_status)
      load_error = ERROR_PROC_NOT_FOUND;
  }

  template <class Function>
  static void Find(HMODULE module, const char* name, Function& out) {
    out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  bool Loaded() const { return load_error == ERROR_SUCCESS; }
};

// Without the library there are no devices to list: the device set cannot
// be made, and the scan reports that as it reports any such failure.
const SetupApiLibrary& SetupApi() {
  static const SetupApiLibrary library;
  return library;
}

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
  if (!SetupApi().Loaded()) {
    last_error_ = SetupApi().load_error;
    return reinterpret_cast<DeviceSet>(INVALID_HANDLE_VALUE);
  }
  HDEVINFO set = SetupApi().get_class_devs(nullptr, nullptr, nullptr, flags);
  last_error_ = GetLastError();
  return reinterpret_cast<DeviceSet>(set);
}

bool WinDeviceApi::EnumDeviceInfo(DeviceSet set, std::uint32_t index, DeviceInfoData* data) {
  SP_DEVINFO_DATA n = ToNative(*data);
  if (!SetupApi().Loaded()) {
    last_error_ = SetupApi().load_error;
    return false;
  }
  const BOOL ok = SetupApi().enum_device_info(ToSet(set), index, &n);
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
  if (!SetupApi().Loaded()) {
    last_error_ = SetupApi().load_error;
    return false;
  }
  const BOOL ok =
      SetupApi().get_property(ToSet(set), &n, property, &type, buffer, buffer_size, &required);
  last_error_ = GetLastError();
  *reg_type = type;
  *required_size = required;
  return ok != FALSE;
}

std::uint32_t WinDeviceApi::GetDevNodeStatus(std::uint32_t* status, std::uint32_t* problem,
                                             std::uint32_t dev_inst, std::uint32_t flags) {
  ULONG s = *status;
  ULONG p = *problem;
  if (!SetupApi().Loaded()) return CR_FAILURE;
  const CONFIGRET rc = SetupApi().get_status(&s, &p, dev_inst, flags);
  *status = s;
  *problem = p;
  return rc;
}

bool WinDeviceApi::DestroyDeviceInfoList(DeviceSet set) {
  if (!SetupApi().Loaded()) {
    last_error_ = SetupApi().load_error;
    return false;
  }
  const BOOL ok = SetupApi().destroy_list(ToSet(set));
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

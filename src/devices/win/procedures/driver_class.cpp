#include "devices/win/procedures/driver_class.h"

#include <cstdint>
#include <utility>

#include "devices/win/procedures/cls_registry.h"
#include "devices/win/procedures/text.h"
#include "platform/text.h"

namespace devices {
namespace {

// Select\Current as a control-set number, or 0 when it is missing, not a
// DWORD, or outside ControlSet001..ControlSet999.
std::uint32_t CurrentControlSetNumber(Registry& registry) {
  RegKey key = 0;
  if (registry.OpenKey(kHkeyLocalMachine, "System\\Select", kKeyRead, &key) != kErrorSuccess) {
    return 0;
  }
  std::uint8_t data[4] = {};
  std::uint32_t type = 0;
  std::uint32_t size = sizeof data;
  const long result = registry.QueryValue(key, "Current", &type, data, &size);
  registry.CloseKey(key);
  if (result != kErrorSuccess || type != kRegDword || size != sizeof data) return 0;
  const std::uint32_t number =
      data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
  return number >= 1 && number <= 999 ? number : 0;
}

}  // namespace

std::vector<std::wstring> ClassKeyPaths(Registry& registry) {
  std::vector<std::wstring> paths;
  if (const std::uint32_t current = CurrentControlSetNumber(registry); current > 2) {
    std::wstring number = std::to_wstring(current);
    number.insert(0, 3 - number.size(), L'0');
    paths.push_back(L"System\\ControlSet" + number + L"\\Control\\Class\\");
  } else if (current == 2) {
    paths.emplace_back(kControlSet2ClassPath);
  }
  paths.emplace_back(kControlSet1ClassPath);
  if (paths.front() != kControlSet2ClassPath) paths.emplace_back(kControlSet2ClassPath);
  return paths;
}

std::wstring GetDriverClassValue(Registry& registry, std::wstring driver_key,
                                 const std::wstring& value_name,
                                 const std::vector<std::wstring>& class_paths) {
  driver_key = UpperCase(driver_key);
  RegistryClass reg(registry);
  const Variant none(L"");
  std::wstring s;
  for (const std::wstring& path : class_paths) {
    s = reg.LoadValue(path + driver_key, value_name, none, L"HKEY_LOCAL_MACHINE").ToText();
    if (!s.empty()) break;
  }
  return std::wstring(platform::TrimSpaces(s));
}

std::wstring GetDriverClassValue(Registry& registry, std::wstring driver_key,
                                 const std::wstring& value_name) {
  static const std::vector<std::wstring> kDefaultPaths = {kControlSet1ClassPath,
                                                          kControlSet2ClassPath};
  return GetDriverClassValue(registry, std::move(driver_key), value_name, kDefaultPaths);
}

}  // namespace devices

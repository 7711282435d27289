#include "devices/win/procedures/driver_class.h"

#include "devices/win/procedures/cls_registry.h"
#include "devices/win/procedures/text.h"
#include "platform/text.h"

namespace devices {

std::wstring GetDriverClassValue(devices::Registry& registry, std::wstring driver_key,
                                 const std::wstring& value_name) {
  driver_key = devices::UpperCase(driver_key);
  devices::RegistryClass reg(registry);
  const devices::Variant none(L"");
  std::wstring s =
      reg.LoadValue(kControlSet1ClassPath + driver_key, value_name, none, L"HKEY_LOCAL_MACHINE")
          .ToText();
  if (s.empty()) {
    s = reg.LoadValue(kControlSet2ClassPath + driver_key, value_name, none, L"HKEY_LOCAL_MACHINE")
            .ToText();
  }
  return std::wstring(platform::TrimSpaces(s));
}

}  // namespace devices

// The values Windows records for a device's installed driver, read from the
// driver's class key.
#pragma once

#include <string>

#include "devices/win/procedures/registry.h"

namespace devices {

inline constexpr wchar_t kControlSet1ClassPath[] = L"System\\ControlSet001\\Control\\Class\\";
inline constexpr wchar_t kControlSet2ClassPath[] = L"System\\ControlSet002\\Control\\Class\\";

// One value of the class key `driver_key` ("{class GUID}\NNNN") under
// HKEY_LOCAL_MACHINE: ControlSet001 first, ControlSet002 when that gives
// nothing. Leading and trailing spaces removed; "" when absent.
std::wstring GetDriverClassValue(devices::Registry& registry, std::wstring driver_key,
                                 const std::wstring& value_name);

}  // namespace devices

// The values Windows records for a device's installed driver, read from the
// driver's class key.
#pragma once

#include <string>
#include <vector>

#include "devices/win/procedures/registry.h"

namespace devices {

inline constexpr wchar_t kControlSet1ClassPath[] = L"System\\ControlSet001\\Control\\Class\\";
inline constexpr wchar_t kControlSet2ClassPath[] = L"System\\ControlSet002\\Control\\Class\\";

// The class-key folders to read, in order: the live control set named by
// HKLM\System\Select "Current" (after a Last Known Good boot it is not
// ControlSet001), then ControlSet001 and ControlSet002, each once. Without a
// usable "Current" the order is ControlSet001, ControlSet002.
std::vector<std::wstring> ClassKeyPaths(Registry& registry);

// One value of the class key `driver_key` ("{class GUID}\NNNN") under
// HKEY_LOCAL_MACHINE, from the first of `class_paths` that gives a non-empty
// one. Leading and trailing spaces removed; "" when absent.
std::wstring GetDriverClassValue(Registry& registry, std::wstring driver_key,
                                 const std::wstring& value_name,
                                 const std::vector<std::wstring>& class_paths);

// The same over ControlSet001, then ControlSet002.
std::wstring GetDriverClassValue(Registry& registry, std::wstring driver_key,
                                 const std::wstring& value_name);

}  // namespace devices

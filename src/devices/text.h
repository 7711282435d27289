// Small text helpers of the device subsystem.
#pragma once

#include <string>
#include <string_view>

namespace devices {

// Leading and trailing spaces (character 32 only) removed.
std::wstring TrimSpaces(std::wstring_view s);

// Upper case, as the registry compares key names.
std::wstring UpperCase(std::wstring_view s);

}  // namespace devices

// Small text helpers of the device subsystem.
#pragma once

#include <string>
#include <string_view>

namespace devices {

// Leading and trailing spaces (character 32 only) removed.
std::wstring TrimSpaces(std::wstring_view s);

// Upper case, as the registry compares key names.
std::wstring UpperCase(std::wstring_view s);

// The data of a registry string, bounded as Windows bounds it whatever else
// the buffer holds: a string ends at its first NUL, a multi-string at its
// first empty string. The result holds the string's characters, or each of
// the multi-string's strings followed by one NUL. Data missing its final
// NULs ends where it ends.
std::string StringData(std::string_view bytes);
std::string MultiStringData(std::string_view bytes);

}  // namespace devices

// Text helpers of the registry procedures.
#pragma once

#include <string>
#include <string_view>

namespace devices {

// The text of a stored REG_SZ or REG_EXPAND_SZ value: up to its first NUL,
// or all of it when it was stored without one.
std::string_view TextBeforeNul(std::string_view bytes);

// Upper case, as the registry compares key names.
std::wstring UpperCase(std::wstring_view s);

// The data of a registry multi-string, bounded as Windows bounds it whatever
// else the buffer holds: it ends at its first empty string. The result holds
// each of its strings followed by one NUL; data missing its final NULs ends
// where it ends.
std::string MultiStringData(std::string_view bytes);

}  // namespace devices

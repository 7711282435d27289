// The scan identifier every report carries, fresh for each scan.
#pragma once

#include <string>

#include "ident/guid_source.h"

namespace ident {

// 32 upper-case hex digits from a new GUID (Data1, Data2, Data3, then the
// Data4 bytes in stored order), or the empty string when no GUID was made.
std::wstring NewScanId(ident::GuidSource& guids);

// The 32-digit form of `guid`.
std::wstring FormatScanId(const ident::Guid& guid);

}  // namespace ident

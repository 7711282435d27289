// The two identifiers every report carries: the hardware identifier (the
// serial number of disk 0) and a fresh scan identifier.
#pragma once

#include <string>

#include "ident/disk_port.h"
#include "ident/guid_source.h"

namespace modScanLib {

// The serial number of disk 0, or "123456" when none can be read. Errors
// the disk identity reader raises (an unsupported platform) pass through.
std::wstring GetHardwareId(ident::DiskPort& disk);

}  // namespace modScanLib

namespace api {

// 32 upper-case hex digits from a new GUID (Data1, Data2, Data3, then the
// Data4 bytes in stored order), or the empty string when no GUID was made.
std::wstring NewScanId(ident::GuidSource& guids);

// The 32-digit form of `guid`.
std::wstring FormatScanId(const ident::Guid& guid);

}  // namespace api

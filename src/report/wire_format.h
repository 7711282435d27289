// The report's wire format as the scan writes it: the driver list's entries
// and the computer block's labels. The identification service, kestrova-match
// and the report page read exactly these bytes, so nothing here changes
// without them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace report {

// Between the fields of one driver entry.
inline constexpr wchar_t kFieldSeparator[] = L"[;]";
// Before every driver entry and every computer-block line.
inline constexpr wchar_t kLineBreak[] = L"\r\n";
inline constexpr wchar_t kDriverEntryPrefix[] = L"driver_";
// A device with neither a friendly name nor a description.
inline constexpr wchar_t kUnknownDeviceName[] = L"Unknown Device";

// The computer block's labels, each followed by its value.
inline constexpr wchar_t kBiosLabel[] = L"bios=";
inline constexpr wchar_t kComputerNameLabel[] = L"CSName=";
inline constexpr wchar_t kOsCaptionLabel[] = L"Caption=";
inline constexpr wchar_t kOsVersionLabel[] = L"Version=";
inline constexpr wchar_t kMaxProcessMemoryLabel[] = L"MaxProcessMemorySize=";
inline constexpr wchar_t kOsArchitecture64Line[] = L"OSArchitecture=64bits";
inline constexpr wchar_t kOsArchitecture32Line[] = L"OSArchitecture=32bits";
inline constexpr wchar_t kIdentifyingNumberLabel[] = L"IdentifyingNumber=";
// wire format, do not correct
inline constexpr wchar_t kProductVersionLabel[] = L"CSProuctVersion=";
inline constexpr wchar_t kModelLabel[] = L"Model=";
inline constexpr wchar_t kManufacturerLabel[] = L"Manufacturer=";

// One driver entry's values, in the order the entry carries them after the
// device's name.
struct DriverEntry {
  std::wstring_view name;
  std::wstring_view version;
  std::wstring_view provider;
  std::wstring_view date;
  std::wstring_view device_id;   // the first hardware id; "" when there is none
  std::wstring_view driver_key;  // written after the device id: "<id>,\<key>"
  std::wstring_view device_class;
  std::wstring_view inf_path;
  const std::vector<std::wstring>* hardware_ids = nullptr;
  const std::vector<std::wstring>* compatible_ids = nullptr;
  std::wstring_view matching_id;
  std::uint16_t problem = 0;
};

// Appends "CR LF driver_<number>=<name>[;]..." to `out`. An id list is each
// id followed by a comma; the device id and its driver path carry that comma
// too, and both are trimmed of spaces.
void AppendDriverEntry(std::wstring& out, std::uint32_t number, const DriverEntry& entry);

// Appends "CR LF <label><value>" to `out`.
void AppendBlockLine(std::wstring& out, std::wstring_view label, std::wstring_view value = {});

}  // namespace report

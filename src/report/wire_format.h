// The report's wire format: the driver list's entries and the computer
// block's labels. The scan writes them (wide text); kestrova-match and the
// service read them back (narrow bytes, report::narrow below), and the report
// page decodes the same bytes, so nothing here changes without all three.
#pragma once

#include <cstddef>
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
// The ANSI code page the report's bytes are in; always the block's last line.
// Readers that predate it take it for one more computer fact.
inline constexpr wchar_t kCodePageLabel[] = L"CodePage=";
// The code page a report naming none is in.
inline constexpr unsigned kDefaultCodePage = 1252;

// The same texts as the readers meet them, as bytes.
namespace narrow {
inline constexpr char kFieldSeparator[] = "[;]";
inline constexpr char kLineBreak[] = "\r\n";
inline constexpr char kDriverEntryPrefix[] = "driver_";
inline constexpr char kBiosLabel[] = "bios=";
inline constexpr char kComputerNameLabel[] = "CSName=";
inline constexpr char kOsCaptionLabel[] = "Caption=";
inline constexpr char kOsVersionLabel[] = "Version=";
inline constexpr char kMaxProcessMemoryLabel[] = "MaxProcessMemorySize=";
inline constexpr char kOsArchitectureLabel[] = "OSArchitecture=";
inline constexpr char kIdentifyingNumberLabel[] = "IdentifyingNumber=";
// wire format, do not correct
inline constexpr char kProductVersionLabel[] = "CSProuctVersion=";
inline constexpr char kModelLabel[] = "Model=";
inline constexpr char kManufacturerLabel[] = "Manufacturer=";
inline constexpr char kCodePageLabel[] = "CodePage=";

// Every label the computer block may carry: the line after the empty line
// that ends the driver list starts with one of them.
inline constexpr const char* kComputerLabels[] = {kBiosLabel,
                                                  kComputerNameLabel,
                                                  kOsCaptionLabel,
                                                  kOsVersionLabel,
                                                  kMaxProcessMemoryLabel,
                                                  kOsArchitectureLabel,
                                                  kIdentifyingNumberLabel,
                                                  kProductVersionLabel,
                                                  kModelLabel,
                                                  kManufacturerLabel,
                                                  kCodePageLabel};

// Fields of one driver entry: the name and the eleven that follow it.
inline constexpr std::size_t kFieldCount = 12;
}  // namespace narrow

namespace detail {
constexpr bool SameText(const char* a, const wchar_t* b) {
  for (; *a != 0 || *b != 0; ++a, ++b) {
    if (static_cast<wchar_t>(*a) != *b) return false;
  }
  return true;
}
constexpr bool StartsWith(const wchar_t* text, const char* head) {
  for (; *head != 0; ++text, ++head) {
    if (*text != static_cast<wchar_t>(*head)) return false;
  }
  return true;
}
}  // namespace detail

// Writer and readers cannot drift apart.
static_assert(detail::SameText(narrow::kFieldSeparator, kFieldSeparator));
static_assert(detail::SameText(narrow::kLineBreak, kLineBreak));
static_assert(detail::SameText(narrow::kDriverEntryPrefix, kDriverEntryPrefix));
static_assert(detail::SameText(narrow::kBiosLabel, kBiosLabel));
static_assert(detail::SameText(narrow::kComputerNameLabel, kComputerNameLabel));
static_assert(detail::SameText(narrow::kOsCaptionLabel, kOsCaptionLabel));
static_assert(detail::SameText(narrow::kOsVersionLabel, kOsVersionLabel));
static_assert(detail::SameText(narrow::kMaxProcessMemoryLabel, kMaxProcessMemoryLabel));
static_assert(detail::StartsWith(kOsArchitecture64Line, narrow::kOsArchitectureLabel));
static_assert(detail::StartsWith(kOsArchitecture32Line, narrow::kOsArchitectureLabel));
static_assert(detail::SameText(narrow::kIdentifyingNumberLabel, kIdentifyingNumberLabel));
static_assert(detail::SameText(narrow::kProductVersionLabel, kProductVersionLabel));
static_assert(detail::SameText(narrow::kModelLabel, kModelLabel));
static_assert(detail::SameText(narrow::kManufacturerLabel, kManufacturerLabel));
static_assert(detail::SameText(narrow::kCodePageLabel, kCodePageLabel));

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

// Appends the code-page line; it must come last, after the computer block.
void AppendCodePageLine(std::wstring& out, unsigned code_page);

}  // namespace report

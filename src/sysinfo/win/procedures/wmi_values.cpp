#include <string>

#include "sysinfo/win/procedures/wmi.h"

namespace sysinfo {

std::optional<std::wstring> ValueText(const WmiValue& value) {
  if (std::holds_alternative<WmiNull>(value)) return std::wstring();
  if (const auto* text = std::get_if<std::wstring>(&value)) return *text;
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_wstring(*number);
  if (const auto* number = std::get_if<std::uint64_t>(&value)) return std::to_wstring(*number);
  return std::nullopt;
}

std::optional<std::wstring> JoinedStrings(const WmiValue& value) {
  const auto* strings = std::get_if<std::vector<std::wstring>>(&value);
  if (strings == nullptr) return std::nullopt;
  std::wstring joined;
  for (size_t i = 0; i < strings->size(); ++i) {
    if (i > 0) joined += L',';
    joined += (*strings)[i];
  }
  return joined;
}

}  // namespace sysinfo

#include "ident/identifiers.h"

namespace ident {
namespace {

void AppendHex(std::wstring& out, std::uint32_t value, int digits) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out.push_back(kDigits[(value >> shift) & 0xF]);
}

}  // namespace

std::wstring FormatScanId(const ident::Guid& guid) {
  std::wstring out;
  out.reserve(32);
  AppendHex(out, guid.Data1, 8);
  AppendHex(out, guid.Data2, 4);
  AppendHex(out, guid.Data3, 4);
  for (std::uint8_t b : guid.Data4) AppendHex(out, b, 2);
  return out;
}

std::wstring NewScanId(ident::GuidSource& guids) {
  ident::Guid guid;
  if (guids.NewGuid(guid) != 0) return {};
  return FormatScanId(guid);
}

}  // namespace ident

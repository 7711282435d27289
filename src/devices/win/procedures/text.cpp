#include "devices/win/procedures/text.h"

#include <cwctype>

namespace devices {

std::wstring UpperCase(std::wstring_view s) {
  std::wstring out(s);
  for (wchar_t& c : out) {
    // Key names are almost always ASCII; the library call costs far more.
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    } else if (c >= 0x80) {
      c = static_cast<wchar_t>(std::towupper(c));
    }
  }
  return out;
}

std::string_view TextBeforeNul(std::string_view bytes) {
  return bytes.substr(0, bytes.find('\0'));
}

std::string MultiStringData(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const auto end = bytes.find('\0');
    if (end == 0) break;  // the empty string: nothing after it is data
    out.append(bytes.substr(0, end)).push_back('\0');
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace devices

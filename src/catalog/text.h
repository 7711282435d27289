// The text helpers the catalog and the matcher use, under the names they
// use them by: the platform layer's, so there is one of each.
#pragma once

#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "platform/text.h"

namespace catalog {

using platform::AppendUtf8;
using platform::AsciiUpper;

// windows-1252 bytes -> UTF-8, as browsers decode the code page.
inline std::string Cp1252ToUtf8(std::string_view bytes) {
  return platform::Windows1252ToUtf8(bytes);
}
// Ids compare without regard to ASCII case.
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  return platform::EqualsIgnoringAsciiCase(a, b);
}
inline std::string_view Trim(std::string_view text) {
  return platform::TrimWhiteSpace(text);
}

}  // namespace catalog

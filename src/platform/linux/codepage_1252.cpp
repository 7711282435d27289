// Windows-1252 stands in for the ANSI code page on Linux: it is what a
// Western European Windows would use, and the report page decodes it.
#include "platform/codepage.h"

namespace platform {

unsigned AnsiCodePage() {
  return 1252;
}

std::wstring FromAnsi(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) out.push_back(Windows1252ToUnicode(b));
  return out;
}

std::string ToAnsi(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    const int byte = UnicodeToWindows1252(static_cast<char32_t>(c));
    out.push_back(byte < 0 ? '?' : static_cast<char>(byte));
  }
  return out;
}

std::wstring FromSystemNarrow(std::string_view bytes) {
  return FromUtf8(bytes);
}
std::string ToSystemNarrow(std::wstring_view text) {
  return ToUtf8(text);
}

}  // namespace platform

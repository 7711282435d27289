// Windows-1252 stands in for the ANSI code page on Linux: it is what a
// Western European Windows would use, and the report page decodes it.
#include "platform/codepage.h"

namespace platform {

unsigned AnsiCodePage() {
  return 1252;
}

// One character per byte each way, so both are sized once and filled in
// place: the report's whole text passes through them, mostly ASCII.
std::wstring FromAnsi(std::string_view bytes) {
  std::wstring out(bytes.size(), L'\0');
  wchar_t* to = out.data();
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    *to++ = b < 0x80 ? static_cast<wchar_t>(b) : static_cast<wchar_t>(Windows1252ToUnicode(b));
  }
  return out;
}

std::string ToAnsi(std::wstring_view text) {
  std::string out(text.size(), '\0');
  char* to = out.data();
  for (const wchar_t c : text) {
    if (c >= 0 && c < 0x80) {
      *to++ = static_cast<char>(c);
      continue;
    }
    const int byte = UnicodeToWindows1252(static_cast<char32_t>(c));
    *to++ = byte < 0 ? '?' : static_cast<char>(byte);
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

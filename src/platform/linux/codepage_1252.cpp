// Windows-1252 stands in for the ANSI code page on Linux: it is what a
// Western European Windows would use, and the report page decodes it.
#include <array>

#include "platform/codepage.h"

namespace platform {
namespace {

// 0x80..0x9F; 0 marks the five bytes Windows-1252 leaves undefined, which
// (as MultiByteToWideChar does) map to the C1 control of the same value.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

wchar_t Decode(unsigned char b) {
  if (b >= 0x80 && b <= 0x9F && kHigh[b - 0x80] != 0) return kHigh[b - 0x80];
  return b;
}

char Encode(wchar_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
  for (size_t i = 0; i < kHigh.size(); ++i) {
    const wchar_t mapped = kHigh[i] != 0 ? kHigh[i] : static_cast<wchar_t>(0x80 + i);
    if (mapped == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

unsigned AnsiCodePage() {
  return 1252;
}

std::wstring FromAnsi(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) out.push_back(Decode(b));
  return out;
}

std::string ToAnsi(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) out.push_back(Encode(c));
  return out;
}

std::wstring FromSystemNarrow(std::string_view bytes) {
  return FromUtf8(bytes);
}
std::string ToSystemNarrow(std::wstring_view text) {
  return ToUtf8(text);
}

}  // namespace platform

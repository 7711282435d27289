#include <array>

#include "platform/codepage.h"

namespace platform {
namespace {

// 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
constexpr std::array<char16_t, 32> kHigh = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

char16_t Windows1252ToUnicode(unsigned char byte) {
  if (byte >= 0x80 && byte <= 0x9F && kHigh[byte - 0x80] != 0) return kHigh[byte - 0x80];
  return byte;
}

int UnicodeToWindows1252(char32_t character) {
  if (character < 0x80 || (character >= 0xA0 && character <= 0xFF)) {
    return static_cast<int>(character);
  }
  for (size_t i = 0; i < kHigh.size(); ++i) {
    const char32_t mapped = kHigh[i] != 0 ? kHigh[i] : static_cast<char32_t>(0x80 + i);
    if (mapped == character) return static_cast<int>(0x80 + i);
  }
  return -1;
}

std::string Windows1252ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  // Text is mostly ASCII: its runs are copied whole, not byte by byte.
  size_t run = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80) continue;
    out.append(bytes.substr(run, i - run));
    AppendUtf8(out, Windows1252ToUnicode(b));
    run = i + 1;
  }
  out.append(bytes.substr(run));
  return out;
}

}  // namespace platform

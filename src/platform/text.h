// Small text jobs every subsystem needs, done once: trimming, ASCII case,
// splitting and case-insensitive comparison, for narrow and wide text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Leading and trailing spaces (character 32 only) removed.
std::wstring_view TrimSpaces(std::wstring_view text);
std::string_view TrimSpaces(std::string_view text);

// Leading and trailing white space (space, tab, CR, LF, VT, FF) removed.
std::string_view TrimWhiteSpace(std::string_view text);

// ASCII letters changed; every other character kept as it is.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
std::wstring AsciiUpper(std::wstring_view text);

// True when the two texts differ at most in the case of ASCII letters.
// Compared from the end, and inline: the matcher compares a report's ids
// with every id of the lines it decodes, and ids that differ mostly differ
// in their last parts (device, subsystem, revision), after a prefix most share.
inline bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = a.size(); i > 0; --i) {
    const auto x = static_cast<unsigned char>(a[i - 1]), y = static_cast<unsigned char>(b[i - 1]);
    if (x != y && ((x | 0x20) != (y | 0x20) || (x | 0x20) < 'a' || (x | 0x20) > 'z')) return false;
  }
  return true;
}

// The parts between `separator`s, empty ones included ("a,,b" -> a, "", b).
std::vector<std::string_view> Split(std::string_view text, char separator);

}  // namespace platform

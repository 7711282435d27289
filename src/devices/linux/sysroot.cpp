#include "devices/linux/sysroot.h"

#include <unistd.h>

#include <cctype>
#include <string_view>

#include "platform/linux/small_file.h"

namespace devices::linux_sys {

namespace fs = std::filesystem;

std::optional<std::string> ReadAttribute(const fs::path& file) {
  auto read = platform::ReadSmallFile(file.string());
  if (!read) return std::nullopt;
  // An attribute is one line of text, and a NUL ends it.
  std::string text = read->substr(0, read->find('\0'));
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  ControlsToSpaces(text);
  return text;
}

void ControlsToSpaces(std::string& text) {
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
}

namespace {
std::optional<unsigned long> Parse(const fs::path& file, int base) {
  auto text = ReadAttribute(file);
  if (!text) return std::nullopt;
  const char* begin = text->c_str();
  while (*begin == ' ') ++begin;
  if (*begin == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long v = std::strtoul(begin, &end, base);
  if (end == begin || *end != '\0') return std::nullopt;
  return v;
}
}  // namespace

std::optional<unsigned long> ReadHex(const fs::path& file) {
  return Parse(file, 16);
}
std::optional<unsigned long> ReadDecimal(const fs::path& file) {
  return Parse(file, 10);
}

std::string LinkName(const fs::path& link) {
  // One readlink: it fails alike for a missing link and for a file that is
  // no link, with no look at the path first.
  char target[4096];
  const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
  if (n <= 0 || static_cast<size_t>(n) == sizeof target) return "";
  const std::string_view text(target, static_cast<size_t>(n));
  const size_t slash = text.rfind('/');
  return std::string(slash == std::string_view::npos ? text : text.substr(slash + 1));
}

}  // namespace devices::linux_sys

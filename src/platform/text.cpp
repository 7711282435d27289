#include "platform/text.h"

namespace platform {
namespace {

template <class Char>
std::basic_string_view<Char> Trim(std::basic_string_view<Char> text,
                                  std::basic_string_view<Char> set) {
  const auto first = text.find_first_not_of(set);
  if (first == std::basic_string_view<Char>::npos) return {};
  const auto last = text.find_last_not_of(set);
  return text.substr(first, last - first + 1);
}

template <class Char>
Char Upper(Char c) {
  return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 'a' + 'A') : c;
}

template <class Char>
Char Lower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

}  // namespace

std::wstring_view TrimSpaces(std::wstring_view text) {
  return Trim(text, std::wstring_view(L" "));
}
std::string_view TrimSpaces(std::string_view text) {
  return Trim(text, std::string_view(" "));
}
std::string_view TrimWhiteSpace(std::string_view text) {
  return Trim(text, std::string_view(" \t\r\n\v\f"));
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Upper(c);
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

std::wstring AsciiUpper(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = Upper(c);
  return out;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

}  // namespace platform

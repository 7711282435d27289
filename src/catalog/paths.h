// Paths to and from the UTF-8 text the catalog keeps them in. A narrow
// std::filesystem::path is not UTF-8 on every system (on Windows it is the
// ANSI code page), so every conversion goes through char8_t.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace catalog {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string Utf8OfPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

// With '/' separators on every system.
inline std::string GenericUtf8OfPath(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace catalog

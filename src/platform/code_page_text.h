// Text in a Windows code page other than the one this system writes in: the
// reports of non-Western Windows, decoded by the C library's converters
// (Linux) or the system's own (Windows).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct DecodedText {
  std::string utf8;
  // Bytes that are no character of the code page, each shown as U+FFFD.
  std::size_t undecodable_bytes = 0;
};

// `bytes` in Windows code page `code_page` (1251, 932, 65001 for UTF-8...) as
// UTF-8; nullopt when this system has no converter for that code page.
std::optional<DecodedText> DecodeCodePage(std::string_view bytes, unsigned code_page);

}  // namespace platform

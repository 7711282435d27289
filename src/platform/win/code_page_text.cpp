#include "platform/code_page_text.h"

#include <windows.h>

#include <algorithm>

#include "platform/codepage.h"

namespace platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

std::wstring Convert(std::string_view bytes, unsigned code_page, DWORD flags, bool& ok) {
  ok = true;
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(code_page, flags, bytes.data(), size, nullptr, 0);
  if (n <= 0) {
    ok = false;
    return {};
  }
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(code_page, flags, bytes.data(), size, out.data(), n);
  return out;
}

// The bytes one character takes, from its first byte.
size_t CharacterLength(std::string_view bytes, size_t at, unsigned code_page) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  size_t length = 1;
  if (code_page == CP_UTF8) {
    length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  } else if (IsDBCSLeadByteEx(code_page, lead)) {
    length = 2;
  }
  return std::min(length, bytes.size() - at);
}

}  // namespace

std::optional<DecodedText> DecodeCodePage(std::string_view bytes, unsigned code_page) {
  if (!IsValidCodePage(code_page)) return std::nullopt;
  DecodedText decoded;
  bool ok = false;
  std::wstring text = Convert(bytes, code_page, MB_ERR_INVALID_CHARS, ok);
  if (!ok && GetLastError() == ERROR_INVALID_FLAGS) text = Convert(bytes, code_page, 0, ok);
  if (!ok) {
    // Some bytes are no character here: one character at a time, each byte
    // that starts none lost as U+FFFD and the rest going on.
    text.clear();
    for (size_t at = 0; at < bytes.size();) {
      const size_t length = CharacterLength(bytes, at, code_page);
      bool one_ok = false;
      const std::wstring one =
          Convert(bytes.substr(at, length), code_page, MB_ERR_INVALID_CHARS, one_ok);
      if (one_ok) {
        text += one;
        at += length;
      } else {
        text += kReplacement;
        ++decoded.undecodable_bytes;
        ++at;
      }
    }
  }
  decoded.utf8 = ToUtf8(text);
  return decoded;
}

}  // namespace platform

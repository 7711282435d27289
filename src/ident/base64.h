// Base64 of text in the ANSI code page: the form in which the report carries
// the scan data and the hardware identifier.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ident {

// Standard Base64 (RFC 4648 alphabet and "=" padding, one line) of the
// text's ANSI bytes. On a single-byte code page every character is one byte;
// on a double-byte code page a character costs as many bytes as its ANSI form
// has. Never fails.
std::wstring Base64Encode(const std::wstring& data);

// 0 for the empty text, otherwise the ANSI character code of the first
// character: 0 to 255 for a one-byte form, the signed 16-bit value of lead
// and trail byte for a two-byte form.
std::int32_t CharCodeOrZero(std::wstring_view ch);

// The Base64 text of `text`, as the report carries it.
std::wstring EncodeText(const std::wstring& text);

}  // namespace ident

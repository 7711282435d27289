// Base64 of arbitrary text: the encoding decodes back to the text's bytes.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "ident/base64.h"
#include "platform/codepage.h"

namespace {

std::string Decode(const std::wstring& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t bits = 0;
  int count = 0;
  for (wchar_t c : text) {
    if (c == L'=') break;
    const auto v = kAlphabet.find(static_cast<char>(c));
    fuzz::Require(c < 128 && v != std::string::npos);
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring text = platform::FromAnsi(bytes);
  const std::wstring encoded = ident::Base64Encode(text);
  fuzz::Require(encoded.size() == (size + 2) / 3 * 4);
  // Windows-1252 has one byte a character: the encoding carries the bytes.
  fuzz::Require(Decode(encoded) == platform::ToAnsi(text));
  fuzz::Require(ident::EncodeText(text) == encoded);
  ident::CharCodeOrZero(text);
  return 0;
}

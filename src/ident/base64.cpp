#include "ident/base64.h"

#include <algorithm>

#include "platform/codepage.h"
#include "platform/memory.h"

namespace ident {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters converted to the code page per pass: large enough to amortise
// the conversion call, small enough to stay in cache. A multiple of 3 so a
// single-byte code page leaves no bytes over between passes.
constexpr std::size_t kCharsPerPass = 3 * 4096;

// Results this long (in characters) are worth a huge-page hint.
constexpr std::size_t kLargeOutput = std::size_t{4} << 20;

// Appends the four characters of each whole 3-byte group of `bytes` (ANSI
// bytes, or characters below 0x80, which are their own byte in every ANSI
// code page); returns how many units that consumed.
template <typename Unit>
std::size_t EncodeGroups(const Unit* src, std::size_t count, std::wstring& out) {
  const std::size_t groups = count / 3;
  const std::size_t start = out.size();
  out.resize(start + 4 * groups);
  wchar_t* dst = out.data() + start;
  for (std::size_t i = 0; i < groups; ++i, src += 3, dst += 4) {
    const std::uint32_t g = (std::uint32_t{static_cast<unsigned char>(src[0])} << 16) |
                            (std::uint32_t{static_cast<unsigned char>(src[1])} << 8) |
                            static_cast<unsigned char>(src[2]);
    dst[0] = kAlphabet[g >> 18];
    dst[1] = kAlphabet[(g >> 12) & 63];
    dst[2] = kAlphabet[(g >> 6) & 63];
    dst[3] = kAlphabet[g & 63];
  }
  return 3 * groups;
}

// The last one or two bytes, with "=" standing in for the missing ones.
void EncodeTail(std::string_view bytes, std::wstring& out) {
  if (bytes.empty()) return;
  const unsigned a = static_cast<unsigned char>(bytes[0]);
  const unsigned b = bytes.size() > 1 ? static_cast<unsigned char>(bytes[1]) : 0;
  out.push_back(kAlphabet[a >> 2]);
  out.push_back(kAlphabet[((a & 3) << 4) | (b >> 4)]);
  out.push_back(bytes.size() > 1 ? kAlphabet[(b & 15) << 2] : L'=');
  out.push_back(L'=');
}

bool IsHighSurrogate(wchar_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}

}  // namespace

std::wstring Base64Encode(const std::wstring& data) {
  std::wstring out;
  // Exact on a single-byte code page.
  out.reserve((data.size() + 2) / 3 * 4);
  if (out.capacity() >= kLargeOutput) {
    platform::AdviseLargeBuffer(out.data(), out.capacity() * sizeof(wchar_t));
  }
  const std::wstring_view text(data);
  std::string pending;  // bytes of a group not yet complete
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = pos;
    if (text[pos] < 0x80) {
      // ASCII runs (nearly all of the scan data) skip the code-page call.
      const std::size_t limit = std::min(text.size(), pos + kCharsPerPass);
      while (end < limit && text[end] < 0x80) ++end;
      while (!pending.empty() && pending.size() < 3 && pos < end) {
        pending.push_back(static_cast<char>(text[pos++]));
      }
      if (pending.size() == 3) pending.erase(0, EncodeGroups(pending.data(), 3, out));
      if (pending.empty()) pos += EncodeGroups(text.data() + pos, end - pos, out);
      while (pos < end) pending.push_back(static_cast<char>(text[pos++]));
    } else {
      const std::size_t limit = std::min(text.size(), pos + kCharsPerPass);
      while (end < limit && text[end] >= 0x80) ++end;
      // A surrogate pair is one character to the code page: keep it together.
      if (end < text.size() && IsHighSurrogate(text[end - 1])) ++end;
      pending += platform::ToAnsi(text.substr(pos, end - pos));
      pos = end;
      pending.erase(0, EncodeGroups(pending.data(), pending.size(), out));
    }
  }
  EncodeTail(pending, out);
  return out;
}

std::int32_t CharCodeOrZero(std::wstring_view ch) {
  if (ch.empty()) return 0;
  std::size_t len = 1;
  if (ch.size() > 1 && IsHighSurrogate(ch[0])) len = 2;
  const std::string bytes = platform::ToAnsi(ch.substr(0, len));
  if (bytes.empty()) return 0;
  if (bytes.size() == 1) return static_cast<unsigned char>(bytes[0]);
  const auto lead = static_cast<unsigned char>(bytes[0]);
  const auto trail = static_cast<unsigned char>(bytes[1]);
  return static_cast<std::int16_t>((lead << 8) | trail);
}

}  // namespace ident

namespace ident {

std::wstring EncodeText(const std::wstring& text) {
  return ident::Base64Encode(text);
}

}  // namespace ident

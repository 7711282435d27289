#include "ident/base64.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/codepage.h"

namespace {

// Independent decoder for round-trip checks on long texts.
std::string DecodeBase64(const std::wstring& text) {
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  unsigned bits = 0;
  int count = 0;
  for (wchar_t c : text) {
    if (c == L'=') break;
    const auto k = alphabet.find(static_cast<char>(c));
    if (c > 127 || k == std::string::npos) return "<invalid character>";
    bits = (bits << 6) | static_cast<unsigned>(k);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

bool WesternCodePage() {
  return platform::ToAnsi(L"\u00e9\u20ac") == "\xE9\x80";
}

TEST(Base64, StandardVectorsAndPadding) {
  const struct {
    std::wstring in;
    const wchar_t* out;
  } cases[] = {
      // RFC 4648, section 10.
      {L"", L""},
      {L"f", L"Zg=="},
      {L"fo", L"Zm8="},
      {L"foo", L"Zm9v"},
      {L"foob", L"Zm9vYg=="},
      {L"fooba", L"Zm9vYmE="},
      {L"foobar", L"Zm9vYmFy"},
      // A code-0 character counts like any other.
      {std::wstring(L"a\0", 2), L"YQA="},
      {std::wstring(L"\0", 1), L"AA=="},
      {std::wstring(L"a\0b\0", 4), L"YQBiAA=="},
      {L"\r\ndriver_1=x", L"DQpkcml2ZXJfMT14"},
  };
  for (const auto& c : cases) EXPECT_EQ(ident::Base64Encode(c.in), c.out) << c.in.size();
  EXPECT_EQ(ident::EncodeText(L"foobar"), L"Zm9vYmFy");
}

TEST(Base64, CharactersAboveAsciiUseTheirCodePageBytes) {
  if (!WesternCodePage()) GTEST_SKIP() << "not a Western code page";
  const struct {
    std::wstring in;
    const wchar_t* out;
  } cases[] = {
      {L"\u00e9", L"6Q=="},        // 0xE9, not UTF-8 C3 A9
      {L"\u20ac", L"gA=="},        // euro sign is 0x80
      {L"\u00fb\u00ff", L"+/8="},  // the last two alphabet characters
      {L"caf\u00e9", L"Y2Fm6Q=="},
      {L"\u4e2d", L"Pw=="},  // not in the code page: '?'
      {L"\u00ff\u00ff\u00ff", L"////"},
  };
  for (const auto& c : cases) EXPECT_EQ(ident::Base64Encode(c.in), c.out);
}

TEST(Base64, LongTextStaysOneLineAndRoundTrips) {
  // Long enough to span several conversion passes, with a remainder.
  std::wstring text;
  std::string bytes;
  for (int i = 0; text.size() < 40001; ++i) {
    // ASCII including CR LF and NUL, and Latin-1 letters, which every Western
    // code page keeps at the same value.
    const wchar_t c = static_cast<wchar_t>(i % 3 == 0 ? 0xC0 + i % 64 : i % 128);
    text.push_back(c);
    bytes.push_back(static_cast<char>(c));
  }
  const std::wstring out = ident::Base64Encode(text);
  EXPECT_EQ(out.size() % 4, 0u);
  EXPECT_EQ(out.find_first_of(L"\r\n "), std::wstring::npos);
  // On a double-byte code page the Latin letters may take two bytes each.
  if (WesternCodePage()) {
    EXPECT_EQ(out.size(), (text.size() + 2) / 3 * 4);
    EXPECT_EQ(DecodeBase64(out), bytes);
  }
}

TEST(Base64, EncodesExactlyTheAnsiFormOfTheWholeText) {
  // The encoder converts text in pieces: a character outside the basic plane
  // straddles the first boundary (where text is UTF-16), and on a double-byte
  // code page the leading ideograph leaves bytes over from the first piece.
  std::wstring text = L"\u4e2d" + std::wstring(3 * 4096 - 2, L'a');
  text += L"\U0001F600\u00e9\u4e2d\u20acz";
  text += std::wstring(3 * 4096, L'b');
  EXPECT_EQ(DecodeBase64(ident::Base64Encode(text)), platform::ToAnsi(text));
}

TEST(Base64, CharCodeOrZero) {
  EXPECT_EQ(ident::CharCodeOrZero(L""), 0);
  EXPECT_EQ(ident::CharCodeOrZero(L"a"), 97);
  EXPECT_EQ(ident::CharCodeOrZero(L"ab"), 97);  // first character only
  EXPECT_EQ(ident::CharCodeOrZero(std::wstring(L"\0", 1)), 0);
  if (WesternCodePage()) {
    EXPECT_EQ(ident::CharCodeOrZero(L"\u00e9"), 0xE9);
    EXPECT_EQ(ident::CharCodeOrZero(L"\u20ac"), 0x80);
    EXPECT_EQ(ident::CharCodeOrZero(L"\u4e2d"), '?');
  }
}

}  // namespace

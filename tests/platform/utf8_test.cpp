#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace {

using platform::FromUtf8;
using platform::ToUtf8;

TEST(Utf8, RoundTripsEveryPlaneAndRejectsMalformedInput) {
  const std::wstring text = L"a\u00e9\u20ac\U0001F600z";
  EXPECT_EQ(ToUtf8(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  // Truncated sequence at the end, stray continuation byte, overlong form,
  // encoded surrogate: each bad byte becomes U+FFFD and decoding goes on.
  EXPECT_EQ(FromUtf8("ab\xE2\x82"), L"ab\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\x80x"), L"\uFFFDx");
  EXPECT_EQ(FromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

}  // namespace

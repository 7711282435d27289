#include <gtest/gtest.h>

#include "platform/codepage.h"

namespace {

TEST(Windows1252, MapsTheHighRangeBothWays) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::wstring wide = platform::FromAnsi(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0x80], L'\u20AC');
  EXPECT_EQ(wide[0x9F], L'\u0178');
  EXPECT_EQ(wide[0x81], L'\u0081');  // undefined bytes keep their C1 value
  EXPECT_EQ(wide[0xE9], L'\u00E9');
  EXPECT_EQ(platform::ToAnsi(wide), all);
  // Characters outside the code page become '?', one byte each.
  EXPECT_EQ(platform::ToAnsi(L"x\u4E2D\U0001F600y"), sizeof(wchar_t) == 4 ? "x??y" : "x???y");
}

}  // namespace

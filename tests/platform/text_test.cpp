#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

using Parts = std::vector<std::string_view>;

TEST(TextTest, TrimmingTakesOnlyWhatItSays) {
  EXPECT_EQ(platform::TrimSpaces(L"  a b \t "), L"a b \t");  // spaces only
  EXPECT_EQ(platform::TrimSpaces(std::string_view("   ")), "");
  EXPECT_EQ(platform::TrimWhiteSpace(" \t\r\nx y\n\v\f"), "x y");
  EXPECT_EQ(platform::TrimWhiteSpace(""), "");
}

TEST(TextTest, AsciiCaseLeavesEveryOtherCharacterAlone) {
  EXPECT_EQ(platform::AsciiUpper("pci\\ven_8086&\xC3\xA9"), "PCI\\VEN_8086&\xC3\xA9");
  EXPECT_EQ(platform::AsciiLower("USB\\VID_046D[Z]"), "usb\\vid_046d[z]");
  EXPECT_EQ(platform::AsciiUpper(L"{4d36e97d}\u00e9"), L"{4D36E97D}\u00e9");
  EXPECT_TRUE(platform::EqualsIgnoringAsciiCase("NTamd64.10.0", "ntAMD64.10.0"));
  EXPECT_FALSE(platform::EqualsIgnoringAsciiCase("\xC3\xA9", "\xC3\x89"));  // not ASCII
  EXPECT_FALSE(platform::EqualsIgnoringAsciiCase("ab", "abc"));
  EXPECT_FALSE(platform::EqualsIgnoringAsciiCase("[", "{"));  // 0x5B and 0x7B differ by 0x20
}

TEST(TextTest, SplitKeepsEmptyParts) {
  EXPECT_EQ(platform::Split("a,,b,", ','), (Parts{"a", "", "b", ""}));
  EXPECT_EQ(platform::Split("", ','), (Parts{""}));
  EXPECT_EQ(platform::Split("abc", ','), (Parts{"abc"}));
}

}  // namespace

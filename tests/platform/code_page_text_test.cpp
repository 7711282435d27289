#include "platform/code_page_text.h"

#include <gtest/gtest.h>

namespace {

// Reports of Russian, Japanese and UTF-8 Windows, decoded alike by the C
// library's converters (Linux) and the system's own (Windows): a byte that
// starts no character is one U+FFFD, and the rest goes on.
TEST(CodePageTextTest, DecodesTheCodePageAndMarksWhatIsNoText) {
  struct Case {
    unsigned code_page;
    std::string_view bytes, utf8;
    size_t undecodable;
  };
  const Case cases[] = {
      {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", 0},
      {932, "\x93\xFA\x96\x7B", "\xE6\x97\xA5\xE6\x9C\xAC", 0},
      {932, "\x93\xFA\x93", "\xE6\x97\xA5\xEF\xBF\xBD", 1},  // a lead byte cut off at the end
      {65001,
       "a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b",
       1},
  };
  for (const Case& c : cases) {
    const std::optional<platform::DecodedText> decoded =
        platform::DecodeCodePage(c.bytes, c.code_page);
    ASSERT_TRUE(decoded.has_value()) << c.code_page;
    EXPECT_EQ(decoded->utf8, c.utf8) << c.code_page;
    EXPECT_EQ(decoded->undecodable_bytes, c.undecodable) << c.code_page;
  }
  EXPECT_FALSE(platform::DecodeCodePage("abc", 4).has_value());  // no such code page
}

}  // namespace

#include "app/linux/fltk_label.h"

#include <gtest/gtest.h>

namespace app {
namespace {

TEST(FltkLabel, KeepsPlainTextAndEncodesUtf8) {
  EXPECT_EQ(FltkLabel(L"Collecting Driver Information"), "Collecting Driver Information");
  EXPECT_EQ(FltkLabel(L"Caf\u00e9 \u20ac"), "Caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(FltkLabel(L""), "");
}

TEST(FltkLabel, LineBreaksBecomeSingleNewlines) {
  EXPECT_EQ(FltkLabel(L"a\r\n\r\nb"), "a\n\nb");
  EXPECT_EQ(FltkLabel(L"a\rb\nc\r"), "a\nb\nc\n");
}

TEST(FltkLabel, AtSignsAreShownLiterally) {
  // A single '@' would make FLTK draw a symbol, e.g. "@->" an arrow.
  EXPECT_EQ(FltkLabel(L"@->"), "@@->");
  EXPECT_EQ(FltkLabel(L"/home/a@b/x@@y"), "/home/a@@b/x@@@@y");
}

}  // namespace
}  // namespace app

#include "files/setup_log.h"

#include <gtest/gtest.h>

#include "fakes/fake_file_system.h"
#include "fakes/fake_scan_ui.h"

namespace {

constexpr wchar_t kDev[] = L"C:\\windows\\inf\\setupapi.dev.log";
constexpr wchar_t kApp[] = L"C:\\windows\\inf\\setupapi.app.log";
constexpr wchar_t kClassic[] = L"C:\\windows\\setupapi.log";

std::string Lines(int from, int to, const std::string& end = "\r\n") {
  std::string s;
  for (int i = from; i <= to; ++i) s += "line " + std::to_string(i) + end;
  return s;
}

std::wstring Excerpt(int from, int to) {
  std::wstring s;
  for (int i = from; i <= to; ++i) s += L"\r\nline " + std::to_wstring(i);
  return s;
}

class SetupLogTest : public ::testing::Test {
 protected:
  SetupLogTest() {
    fs.env[L"Systemroot"] = L"C:\\windows";
    fs.env[L"windir"] = L"C:\\windows";
  }
  std::wstring Get() { return file::ReadSetupLogExcerpt(fs, ui, file::WindowsSetupLogs(fs)); }
  fakes::FakeFileSystem fs;
  fakes::FakeScanUi ui;
};

TEST_F(SetupLogTest, NewerLayoutPrefersTheApplicationLog) {
  fs.files[kDev] = "device\r\n";
  fs.files[kApp] = "app\r\n";
  fs.files[kClassic] = "classic\r\n";
  EXPECT_EQ(Get(), L"\r\napp");
  // Without the application log it falls back to the classic one.
  fs.files.erase(kApp);
  EXPECT_EQ(Get(), L"\r\nclassic");
  // The device log itself is never read.
  fs.files.erase(kClassic);
  EXPECT_EQ(Get(), file::kNoSetupLogText);
}

TEST_F(SetupLogTest, OlderLayoutPrefersTheClassicLogThenTheApplicationLog) {
  fs.files[kApp] = "app\r\n";
  EXPECT_EQ(Get(), L"\r\napp");
  fs.files[kClassic] = "classic\r\n";
  EXPECT_EQ(Get(), L"\r\nclassic");
  fs.files.clear();
  EXPECT_EQ(Get(), L"Could not find log file");
}

TEST_F(SetupLogTest, KeepsTheLastTwentyCompleteLines) {
  EXPECT_EQ(file::SetupLogExcerpt(L""), L"");
  EXPECT_EQ(file::SetupLogExcerpt(L"no line end"), L"");
  EXPECT_EQ(file::SetupLogExcerpt(L"lf\nonly\n"), L"");
  EXPECT_EQ(file::SetupLogExcerpt(L"\r\n"), L"\r\n");  // one empty line

  fs.files[kClassic] = Lines(1, 5);
  EXPECT_EQ(Get(), Excerpt(1, 5));
  fs.files[kClassic] = Lines(1, 30);
  EXPECT_EQ(Get(), Excerpt(11, 30));
  // A last line without CR LF is left out.
  fs.files[kClassic] = Lines(1, 29) + "line 30";
  EXPECT_EQ(Get(), Excerpt(10, 29));
  // CR and LF on their own are ordinary characters; "\n\r" is no line end.
  fs.files[kClassic] = "a\rb\n\rc\r\nd";
  EXPECT_EQ(Get(), L"\r\na\rb\n\rc");
}

TEST_F(SetupLogTest, SizeLimitIsThreeMebibytesInclusive) {
  std::string at_limit = Lines(1, 2);
  at_limit += std::string(3145728 - at_limit.size() - 2, 'z') + "\r\n";
  fs.files[kClassic] = at_limit;
  const std::wstring read = Get();
  ASSERT_EQ(read.size(), 3145728u);  // all three lines, each with its CR LF in front
  EXPECT_EQ(read.substr(0, 16), L"\r\nline 1\r\nline 2");

  fs.files[kClassic] += "x";
  EXPECT_EQ(Get(), L"C:\\windows\\setupapi.log is too big3145729");
  EXPECT_EQ(ui.wait_cursor.size(), 2u);  // only the first call read the file
}

TEST_F(SetupLogTest, UnreadableLogGivesAnEmptyExcerptAndMissingVariablesFindNothing) {
  fs.files[kClassic] = Lines(1, 3);
  fs.unreadable.insert(kClassic);
  EXPECT_EQ(Get(), L"");
  fs.env.clear();
  EXPECT_EQ(Get(), file::kNoSetupLogText);
}

TEST_F(SetupLogTest, LogsWithLfLineEndsAreSplitAtLf) {
  fs.files[L"/var/log/kern.log"] = Lines(1, 25, "\n") + "partial";
  file::SetupLogSource source{{L"/var/log/missing.log", L"/var/log/kern.log"}, true};
  EXPECT_EQ(file::ReadSetupLogExcerpt(fs, ui, source), Excerpt(6, 25));
  // Lines that already end in CR LF are not doubled.
  fs.files[L"/var/log/kern.log"] = "a\r\nb\n";
  EXPECT_EQ(file::ReadSetupLogExcerpt(fs, ui, source), L"\r\na\r\nb");
  EXPECT_EQ(file::ReadSetupLogExcerpt(fs, ui, {{}, true}), file::kNoSetupLogText);
  // Their text is UTF-8.
  fs.files[L"/var/log/kern.log"] = "usb 1-1: Product: Caf\xc3\xa9\n";
  source.utf8_text = true;
  EXPECT_EQ(file::ReadSetupLogExcerpt(fs, ui, source), L"\r\nusb 1-1: Product: Caf\u00e9");
}

}  // namespace

#include "files/activity_log.h"

#include <gtest/gtest.h>

#include "fakes/fake_clock.h"
#include "fakes/fake_file_system.h"

namespace {

constexpr wchar_t kLog[] = L"C:\\Roaming\\pellucor\\log.txt";

class ActivityLogTest : public ::testing::Test {
 protected:
  ActivityLogTest() { fs.env[L"appdata"] = L"C:\\Roaming"; }
  fakes::FakeFileSystem fs;
  fakes::FakeClock clock;
};

TEST_F(ActivityLogTest, FirstEntryCreatesFolderAndFileWithLeadingLineEnd) {
  file::WriteLog(fs, clock, L"Start scanning file with mode:online");
  EXPECT_TRUE(fs.folders.count(L"C:\\Roaming\\pellucor"));
  EXPECT_EQ(fs.files[kLog], "\r\n12/6/2026 6:10:33 AM: Start scanning file with mode:online");
}

TEST_F(ActivityLogTest, EntriesFollowEachOtherAndAnEmptyMessageKeepsTheStamp) {
  file::WriteLog(fs, clock, L"first");
  clock.now.hour = 18;
  file::WriteLog(fs, clock, L"");
  EXPECT_EQ(fs.files[kLog], "\r\n12/6/2026 6:10:33 AM: first\r\n12/6/2026 6:10:33 PM: ");
}

TEST_F(ActivityLogTest, ExactMidnightWritesTheDateAlone) {
  clock.now = {2026, 1, 2, 0, 0, 0};
  EXPECT_EQ(file::TimeStamp(clock), L"1/2/2026");
  clock.now.second = 1;
  EXPECT_EQ(file::TimeStamp(clock), L"1/2/2026 12:00:01 AM");
}

TEST_F(ActivityLogTest, ALogOverOneMebibyteIsStartedAfresh) {
  fs.folders.insert(L"C:\\Roaming\\pellucor");
  const std::string at_limit(1048576, 'x');
  fs.files[kLog] = at_limit;
  file::WriteLog(fs, clock, L"a");
  EXPECT_EQ(fs.files[kLog], at_limit + "\r\n12/6/2026 6:10:33 AM: a");

  fs.files[kLog] = at_limit + "y";
  file::WriteLog(fs, clock, L"b");
  EXPECT_EQ(fs.files[kLog], "\r\n12/6/2026 6:10:33 AM: b");
}

TEST_F(ActivityLogTest, MessageGoesOutInTheAnsiCodePageAndWriteFailuresReachTheCaller) {
  file::WriteLog(fs, clock, L"caf\u00e9");
  EXPECT_EQ(fs.files[kLog].substr(fs.files[kLog].size() - 4), "caf\xe9");
  fs.unwritable.insert(kLog);
  EXPECT_THROW(file::WriteLog(fs, clock, L"x"), file::FileError);
}

}  // namespace

#include "files/win/win_file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "files/file.h"
#include "platform/codepage.h"

namespace {

class WinFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, tmp), 0u);
    dir = std::string(tmp) + "kestrova-fs-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::string p = dir + "\\" + d.cFileName;
        if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA(p.c_str());
        else if (d.cFileName[0] != '.') RemoveDirectoryA(p.c_str());
      } while (FindNextFileA(h, &d));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }
  std::wstring W(const std::string& p) { return platform::FromAnsi(p); }
  int CountEntries() {
    int n = 0;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
      if (d.cFileName[0] != '.') ++n;
    } while (FindNextFileA(h, &d));
    FindClose(h);
    return n;
  }

  std::string dir;
  file::WinFileSystem sys;
};

TEST_F(WinFileSystemTest, ExistsIsADirectorySearch) {
  sys.ReplaceBytes(W(dir + "\\a.txt"), "x");
  EXPECT_TRUE(sys.Exists(W(dir + "\\a.txt")));
  EXPECT_TRUE(sys.Exists(W(dir)));
  EXPECT_FALSE(sys.Exists(W(dir + "\\")));
  EXPECT_TRUE(sys.Exists(W(dir + "\\*.txt")));
  EXPECT_FALSE(sys.Exists(W(dir + "\\*.doc")));
}

TEST_F(WinFileSystemTest, ReplaceAppendAndReadRoundTripInTheAnsiCodePage) {
  const std::wstring report = W(dir + "\\driver.html");
  sys.ReplaceBytes(report, "a much longer first text");
  file::WriteTextFile(sys, report, L"caf\u00e9\r\n", false);
  platform::NoMessagePump pump;
  EXPECT_EQ(file::ReadTextFile(sys, pump, report), L"caf\u00e9\r\n");
  EXPECT_EQ(sys.Size(report), 6u);

  const std::wstring log = W(dir + "\\log.txt");
  sys.AppendBytes(log, "a");
  sys.AppendBytes(log, "b");
  EXPECT_EQ(sys.ReadBytes(log), std::optional<std::string>("ab"));

  // Failures throw and leave no temporary file behind.
  EXPECT_THROW(sys.ReplaceBytes(W(dir + "\\missing\\f.html"), "x"), file::FileError);
  EXPECT_THROW(sys.ReplaceBytes(W(dir), "x"), file::FileError);
  EXPECT_EQ(CountEntries(), 2);
}

TEST_F(WinFileSystemTest, FoldersComeFromTheEnvironment) {
  SetEnvironmentVariableA("TEMP", dir.c_str());
  EXPECT_EQ(modScanLib::GetWorkFolder(sys), W(dir + "\\pellucor\\"));
  EXPECT_EQ(modScanLib::GetWorkFolder(sys), W(dir + "\\pellucor\\"));
  EXPECT_TRUE(sys.Exists(W(dir + "\\pellucor")));
  RemoveDirectoryA((dir + "\\pellucor").c_str());
  EXPECT_FALSE(sys.ExecutableFolder().empty());
  EXPECT_EQ(sys.ExecutableFolder().back() == L'\\', false);
}

}  // namespace

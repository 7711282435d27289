#include <gtest/gtest.h>

#include "fakes/fake_file_system.h"
#include "fakes/fake_scan_ui.h"
#include "files/file.h"

namespace {

TEST(FileHelpers, ReadTextFileKeepsBytesAndManagesTheWaitCursor) {
  fakes::FakeFileSystem fs;
  fakes::FakeScanUi ui;
  fs.files[L"C:\\a.txt"] = "abc\r\n";
  EXPECT_EQ(file::ReadTextFile(fs, ui, L"C:\\a.txt"), L"abc\r\n");
  EXPECT_EQ(ui.wait_cursor, (std::vector<bool>{true, false}));
  EXPECT_EQ(ui.pumps, 1);

  // A missing file leaves the pointer alone.
  fakes::FakeScanUi ui2;
  EXPECT_EQ(file::ReadTextFile(fs, ui2, L"C:\\missing.txt"), L"");
  EXPECT_TRUE(ui2.wait_cursor.empty());

  // Present but unreadable: empty, and the pointer is still restored.
  fs.unreadable.insert(L"C:\\a.txt");
  fakes::FakeScanUi ui3;
  EXPECT_EQ(file::ReadTextFile(fs, ui3, L"C:\\a.txt"), L"");
  EXPECT_EQ(ui3.wait_cursor, (std::vector<bool>{true, false}));
}

TEST(FileHelpers, ARequiredFileSaysWhyItCannotBeRead) {
  fakes::FakeFileSystem fs;
  fakes::FakeScanUi ui;
  fs.folders.insert(L"C:\\t");
  try {
    file::ReadRequiredTextFile(fs, ui, L"C:\\t");
    ADD_FAILURE() << "a folder was read as a file";
  } catch (const file::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("folder"), std::string::npos);
  }
  EXPECT_EQ(ui.wait_cursor, (std::vector<bool>{true, false}));
  EXPECT_THROW(file::ReadRequiredTextFile(fs, ui, L"C:\\missing"), file::FileError);
}

TEST(FileHelpers, WriteTextFileReplacesOrAppendsWithoutLineEnd) {
  fakes::FakeFileSystem fs;
  fs.files[L"C:\\r.txt"] = "a much longer old text";
  file::WriteTextFile(fs, L"C:\\r.txt", L"new", false);
  EXPECT_EQ(fs.files[L"C:\\r.txt"], "new");
  file::WriteTextFile(fs, L"C:\\n.txt", L"x", true);
  file::WriteTextFile(fs, L"C:\\n.txt", L"y", true);
  EXPECT_EQ(fs.files[L"C:\\n.txt"], "xy");
  // Characters go out in the ANSI code page, one byte each here.
  file::WriteTextFile(fs, L"C:\\e.txt", L"caf\u00e9", false);
  EXPECT_EQ(fs.files[L"C:\\e.txt"], "caf\xe9");
  fs.unwritable.insert(L"C:\\ro.txt");
  EXPECT_THROW(file::WriteTextFile(fs, L"C:\\ro.txt", L"x", false), file::FileError);
}

TEST(FileHelpers, UserFoldersEndInSeparatorAndAreCreated) {
  fakes::FakeFileSystem fs;
  fs.env[L"TEMP"] = L"C:\\Temp";
  fs.env[L"appdata"] = L"C:\\Roaming";
  EXPECT_EQ(file::GetWorkFolder(fs), L"C:\\Temp\\pellucor\\");
  EXPECT_EQ(file::GetWorkFolder(fs), L"C:\\Temp\\pellucor\\");
  EXPECT_TRUE(fs.folders.count(L"C:\\Temp\\pellucor"));
  EXPECT_EQ(file::GetLogFolder(fs), L"C:\\Roaming\\pellucor\\");
  EXPECT_TRUE(fs.folders.count(L"C:\\Roaming\\pellucor"));
  // A folder that is not private is refused, for the work and the log.
  fs.not_private.insert(L"C:\\Temp\\pellucor");
  EXPECT_THROW(file::GetWorkFolder(fs), file::FileError);
  fs.not_private.insert(L"C:\\Roaming\\pellucor");
  EXPECT_THROW(file::GetLogFolder(fs), file::FileError);
  fs.not_private.clear();
  // Unset variable: a folder at the root of the current drive.
  fs.env.erase(L"TEMP");
  EXPECT_EQ(file::GetWorkFolder(fs), L"\\pellucor\\");
}

}  // namespace

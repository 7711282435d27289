#include "files/linux/posix_file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "files/file.h"
#include "platform/codepage.h"

namespace {

namespace fs = std::filesystem;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kestrova-fs-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  std::wstring W(const fs::path& p) { return platform::FromUtf8(p.string()); }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir;
  file::PosixFileSystem sys;
};

TEST_F(PosixFileSystemTest, ExistsFollowsDirectorySearchRules) {
  std::ofstream(dir / "a.txt") << "x";
  EXPECT_TRUE(sys.Exists(W(dir / "a.txt")));
  EXPECT_TRUE(sys.Exists(W(dir)));             // a folder without separator
  EXPECT_FALSE(sys.Exists(W(dir) + L"/"));     // the same with one
  EXPECT_TRUE(sys.Exists(W(dir / "*.txt")));   // a pattern that matches
  EXPECT_FALSE(sys.Exists(W(dir / "*.doc")));  // one that does not
  EXPECT_FALSE(sys.Exists(W(dir / "missing")));
}

TEST_F(PosixFileSystemTest, ReplaceIsAtomicAndFailureKeepsTheOldFile) {
  const auto target = dir / "driver.html";
  sys.ReplaceBytes(W(target), "first, long text");
  sys.ReplaceBytes(W(target), "second");
  EXPECT_EQ(Slurp(target), "second");

  // A target that is a folder, and one in a missing folder: errors, and no
  // temporary file is left behind.
  fs::create_directory(dir / "sub");
  EXPECT_THROW(sys.ReplaceBytes(W(dir / "sub"), "x"), file::FileError);
  EXPECT_THROW(sys.ReplaceBytes(W(dir / "nope" / "f.html"), "x"), file::FileError);
  size_t entries = 0;
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 2u);  // driver.html and sub

  // In a read-only folder the old report survives untouched.
  if (::geteuid() != 0) {
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(sys.ReplaceBytes(W(target), "third"), file::FileError);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(Slurp(target), "second");
  }
}

TEST_F(PosixFileSystemTest, AppendCreatesThenAppends) {
  const auto log = dir / "log.txt";
  sys.AppendBytes(W(log), "a");
  sys.AppendBytes(W(log), "b");
  EXPECT_EQ(Slurp(log), "ab");
  EXPECT_EQ(sys.Size(W(log)), 2u);
  EXPECT_FALSE(sys.Size(W(dir / "missing")).has_value());
}

TEST_F(PosixFileSystemTest, FoldersMapToXdgAndArePrivate) {
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
  fs::create_directory(dir / "data");
  fs::create_directory(dir / "run");
  EXPECT_EQ(file::GetLogFolder(sys), W(dir / "data" / "pellucor") + L"/");
  EXPECT_EQ(modScanLib::GetWorkFolder(sys), W(dir / "run" / "pellucor") + L"/");
  EXPECT_EQ(modScanLib::GetWorkFolder(sys), W(dir / "run" / "pellucor") + L"/");
  struct stat st;
  ASSERT_EQ(::stat((dir / "run" / "pellucor").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Without a runtime dir the cache folder holds the work folder.
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  EXPECT_EQ(sys.GetEnv(L"TEMP"), W(dir / "cache"));
  ::unsetenv("XDG_CACHE_HOME");

  // A fresh account: the XDG data folder itself does not exist yet.
  ::setenv("XDG_DATA_HOME", (dir / "fresh" / "share").c_str(), 1);
  EXPECT_EQ(file::GetLogFolder(sys), W(dir / "fresh" / "share" / "pellucor") + L"/");
  EXPECT_TRUE(fs::is_directory(dir / "fresh" / "share" / "pellucor"));
  ASSERT_EQ(::stat((dir / "fresh").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ::unsetenv("XDG_DATA_HOME");
}

TEST_F(PosixFileSystemTest, DesktopFolderPrefersTheUsersChoice) {
  const char* old_home = std::getenv("HOME");
  const std::string saved = old_home ? old_home : "";
  ::setenv("HOME", dir.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir / "cfg").c_str(), 1);
  EXPECT_EQ(sys.DesktopFolder(), W(dir));  // nothing else exists
  fs::create_directory(dir / "Desktop");
  EXPECT_EQ(sys.DesktopFolder(), W(dir / "Desktop"));
  fs::create_directories(dir / "cfg");
  fs::create_directory(dir / "Schreibtisch");
  std::ofstream(dir / "cfg" / "user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n";
  EXPECT_EQ(sys.DesktopFolder(), W(dir / "Schreibtisch"));
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", saved.c_str(), 1);
}

}  // namespace

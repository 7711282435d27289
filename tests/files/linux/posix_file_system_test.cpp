#include "files/linux/posix_file_system.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "files/file.h"
#include "platform/codepage.h"

namespace {
bool fail_fsync = false;  // the disk reports an error when data is flushed
}  // namespace

// Takes the place of the C library's for this test program, so a flush can
// fail on demand.
extern "C" int fsync(int fd) {
  if (fail_fsync) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

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

TEST_F(PosixFileSystemTest, ExistsTakesThePathLiterally) {
  std::ofstream(dir / "a.txt") << "x";
  std::ofstream(dir / "b*c") << "x";
  fs::create_symlink(dir / "gone", dir / "dangling");
  EXPECT_TRUE(sys.Exists(W(dir / "a.txt")));
  EXPECT_TRUE(sys.Exists(W(dir)));                // a folder without separator
  EXPECT_FALSE(sys.Exists(W(dir) + L"/"));        // the same with one
  EXPECT_FALSE(sys.Exists(W(dir / "*.txt")));     // no pattern matching
  EXPECT_TRUE(sys.Exists(W(dir / "b*c")));        // but a name that holds '*'
  EXPECT_FALSE(sys.Exists(W(dir / "dangling")));  // a link leading nowhere
  EXPECT_FALSE(sys.Exists(W(dir / "missing")));
}

TEST_F(PosixFileSystemTest, ReadBytesReadsRegularFilesOnlyAndNeverWaitsOnAPipe) {
  std::ofstream(dir / "t.html", std::ios::binary) << std::string("a\0b", 3);
  EXPECT_EQ(sys.ReadBytes(W(dir / "t.html")), std::string("a\0b", 3));
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink(dir / "gone", dir / "dangling");
  const auto reason = [&](const fs::path& p) -> std::string {
    try {
      sys.ReadBytes(W(p));
    } catch (const file::FileError& e) {
      return e.what();
    }
    return "read";
  };
  EXPECT_NE(reason(dir / "fifo").find("not a regular file"), std::string::npos);
  EXPECT_NE(reason(dir).find("folder"), std::string::npos);
  EXPECT_NE(reason(dir / "dangling").find("No such file"), std::string::npos);
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

TEST_F(PosixFileSystemTest, ReplaceKeepsOnlyThePermissionBitsOfARegularFile) {
  const auto target = dir / "driver.html";
  std::ofstream(target) << "old";
  ::chmod(target.c_str(), 06750);
  sys.ReplaceBytes(W(target), "new");
  struct stat st;
  ASSERT_EQ(::lstat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0750u);  // set-id bits dropped

  // A link in the report's place: replaced by a file of the usual mode; what
  // it points to keeps its bytes and its mode.
  const auto elsewhere = dir / "elsewhere";
  std::ofstream(elsewhere) << "theirs";
  ::chmod(elsewhere.c_str(), 0604);
  fs::remove(target);
  fs::create_symlink(elsewhere, target);
  const mode_t mask = ::umask(022);
  sys.ReplaceBytes(W(target), "new");
  ::umask(mask);
  ASSERT_EQ(::lstat(target.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(Slurp(elsewhere), "theirs");
}

TEST_F(PosixFileSystemTest, AFailedReplaceClosesItsFile) {
  const auto count_fds = [] {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
  };
  // A flush that fails, and a file-size limit that makes the write fail
  // half-way.
  struct rlimit old_limit;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 4;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const size_t before = count_fds();
  std::ofstream(dir / "kept.html") << "old";
  fail_fsync = true;
  EXPECT_THROW(sys.ReplaceBytes(W(dir / "kept.html"), "new"), file::FileError);
  fail_fsync = false;
  EXPECT_EQ(Slurp(dir / "kept.html"), "old");
  EXPECT_THROW(sys.ReplaceBytes(W(dir / "big.html"), std::string(100, 'x')), file::FileError);
  EXPECT_THROW(sys.AppendBytes(W(dir / "big.log"), std::string(100, 'x')), file::FileError);
  const size_t after = count_fds();
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(after, before);
  EXPECT_FALSE(fs::exists(dir / "big.html"));
  size_t entries = 0;  // kept.html and big.log: no temporary file left
  for ([[maybe_unused]] auto& e : fs::directory_iterator(dir)) ++entries;
  EXPECT_EQ(entries, 2u);
}

TEST_F(PosixFileSystemTest, PrivateFoldersAreCheckedAndNeverFollowed) {
  // The work folder replaced by a link to an open folder: refused, nothing
  // written there.
  const auto open_folder = dir / "open";
  fs::create_directory(open_folder);
  fs::permissions(open_folder, fs::perms::all);
  fs::create_symlink(open_folder, dir / "linked");
  try {
    sys.MakePrivateFolder(W(dir / "linked") + L"/");
    ADD_FAILURE() << "a link was taken for a private folder";
  } catch (const file::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("symbolic link"), std::string::npos);
  }
  EXPECT_THROW(sys.MakePrivateFolder(W(open_folder)), file::FileError);  // mode 0777

  // A private folder whose log is a link: the append is refused and the
  // file it points to keeps its bytes.
  const auto mine = dir / "mine";
  sys.MakePrivateFolder(W(mine) + L"/");
  std::ofstream(dir / "victim") << "keep";
  fs::create_symlink(dir / "victim", mine / "log.txt");
  EXPECT_THROW(sys.AppendBytes(W(mine / "log.txt"), "entry"), file::FileError);
  EXPECT_EQ(Slurp(dir / "victim"), "keep");

  // Checked, then swapped for a link: the write goes through the folder
  // opened again, and is refused.
  fs::rename(mine, dir / "mine-away");
  fs::create_symlink(open_folder, mine);
  EXPECT_THROW(sys.ReplaceBytes(W(mine / "driver.html"), "r"), file::FileError);
  EXPECT_TRUE(fs::is_empty(open_folder));

  // Another user's folder, as root sees a user's own under `sudo -E`.
  if (::geteuid() == 0) {
    const auto theirs = dir / "theirs";
    fs::create_directory(theirs);
    fs::permissions(theirs, fs::perms::owner_all, fs::perm_options::replace);
    ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
    try {
      sys.MakePrivateFolder(W(theirs));
      ADD_FAILURE() << "another user's folder was accepted";
    } catch (const file::FileError& e) {
      EXPECT_NE(std::string(e.what()).find("another user"), std::string::npos);
    }
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
  EXPECT_EQ(file::GetWorkFolder(sys), W(dir / "run" / "pellucor") + L"/");
  EXPECT_EQ(file::GetWorkFolder(sys), W(dir / "run" / "pellucor") + L"/");
  struct stat st;
  ASSERT_EQ(::stat((dir / "run" / "pellucor").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  // Without a runtime dir the cache folder holds the work folder.
  ::unsetenv("XDG_RUNTIME_DIR");
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  EXPECT_EQ(sys.WorkFolder(), W(dir / "cache"));
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

// Small files read without trusting the tree they are in.
#include "platform/linux/small_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using platform::ReadFileStart;
using platform::ReadSmallFile;

class SmallFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kestrova-small-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  fs::path dir_;
};

TEST_F(SmallFileTest, RegularFilesWholeUpToTheBound) {
  EXPECT_EQ(ReadSmallFile(Write("a", std::string("8086\n\0x", 7))), std::string("8086\n\0x", 7));
  EXPECT_EQ(ReadSmallFile(Write("empty", "")), "");
  const std::string at_bound(platform::kMaxSmallFile, 'x');
  EXPECT_EQ(ReadSmallFile(Write("at", at_bound)), at_bound);
  // One byte more is no attribute: refused rather than cut short.
  EXPECT_EQ(ReadSmallFile(Write("over", at_bound + "y")), std::nullopt);
  EXPECT_EQ(ReadSmallFile(Write("small", "12345"), 4), std::nullopt);
  EXPECT_EQ(ReadFileStart(Write("page", "12345"), 4), "1234");
  // Links are followed to a regular file.
  fs::create_symlink(dir_ / "a", dir_ / "link");
  EXPECT_EQ(ReadSmallFile((dir_ / "link").string()), std::string("8086\n\0x", 7));
}

TEST_F(SmallFileTest, EverythingButARegularFileIsPassedOverWithoutBlocking) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ReadSmallFile(fifo), std::nullopt);
  // A writer holding it open, and a blocking reader would wait for ever.
  const int writer = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  EXPECT_EQ(ReadSmallFile(fifo), std::nullopt);
  ::close(writer);

  const std::string socket_path = (dir_ / "sock").string();
  const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof addr.sun_path);
  socket_path.copy(addr.sun_path, socket_path.size());
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  EXPECT_EQ(ReadSmallFile(socket_path), std::nullopt);
  ::close(s);

  EXPECT_EQ(ReadSmallFile("/dev/zero"), std::nullopt);  // endless if it were read
  EXPECT_EQ(ReadSmallFile(dir_.string()), std::nullopt);
  EXPECT_EQ(ReadSmallFile((dir_ / "missing").string()), std::nullopt);

  fs::create_symlink(dir_ / "loop1", dir_ / "loop2");
  fs::create_symlink(dir_ / "loop2", dir_ / "loop1");
  EXPECT_EQ(ReadSmallFile((dir_ / "loop1").string()), std::nullopt);
}

TEST_F(SmallFileTest, AFileThatFailsToReadIsUnreadable) {
  // A regular file whose first read fails, whoever runs the test.
  EXPECT_EQ(ReadSmallFile("/proc/self/mem"), std::nullopt);
  if (::geteuid() != 0) {
    const std::string secret = Write("secret", "x");
    fs::permissions(secret, fs::perms::none);
    EXPECT_EQ(ReadSmallFile(secret), std::nullopt);
  }
}

// The kernel's own attribute trees are read without the checks other trees
// get; what they hold still comes back whole, and only what is theirs.
TEST_F(SmallFileTest, KernelAttributesStraightAndNothingElseThatWay) {
  utsname names{};
  ASSERT_EQ(::uname(&names), 0);
  EXPECT_EQ(ReadSmallFile("/proc/sys/kernel/osrelease"), std::string(names.release) + "\n");
  EXPECT_EQ(ReadSmallFile("/proc/sys/kernel"), std::nullopt);  // a folder
  if (fs::is_directory("/sys/kernel")) {
    EXPECT_EQ(ReadSmallFile("/sys/kernel"), std::nullopt);
  }
  EXPECT_EQ(ReadSmallFile("/sys/no-such-attribute"), std::nullopt);
  // A path that climbs out of them is any other path: a device is refused.
  EXPECT_EQ(ReadFileStart("/sys/../dev/zero", 16), std::nullopt);
  EXPECT_EQ(ReadFileStart("/proc/sys/../../dev/zero", 16), std::nullopt);
}

}  // namespace

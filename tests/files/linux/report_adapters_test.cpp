// The Linux time stamp, setup-log candidates and document opener, against
// real files and processes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "files/linux/linux_setup_logs.h"
#include "files/linux/posix_clock.h"
#include "files/linux/xdg_shell.h"
#include "platform/codepage.h"

namespace {

namespace fs = std::filesystem;

class LinuxAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kestrova-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override { fs::remove_all(dir); }
  static std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // Waits up to 20 s for a file to hold something.
  static std::string AwaitFile(const fs::path& p) {
    for (int i = 0; i < 200; ++i) {
      const std::string text = Slurp(p);
      if (!text.empty() && text.back() == '\n') return text;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
  }
  fs::path dir;
};

TEST_F(LinuxAdapterTest, ClockFormatsWithTheGivenLocale) {
  file::PosixClock clock("C");
  const file::LocalTime t{2026, 12, 6, 6, 10, 33};
  EXPECT_EQ(clock.ShortDate(t), L"12/06/26");
  EXPECT_EQ(clock.LongTime(t), L"06:10:33");
  file::PosixClock not_installed("xx_XX.NOT-INSTALLED");
  EXPECT_EQ(not_installed.ShortDate(t), L"12/06/26");
  const file::LocalTime now = file::PosixClock().Now();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
}

TEST_F(LinuxAdapterTest, SetupLogsAreTheReadableSystemLogsInOrder) {
  fs::create_directories(dir / "var/log/kern.log.d");
  std::ofstream(dir / "var/log/messages") << "m\n";
  std::ofstream(dir / "var/log/dmesg") << "d\n";
  const std::string root = dir.string();
  auto source = file::LinuxSetupLogs(root);
  EXPECT_TRUE(source.lf_line_ends);
  EXPECT_TRUE(source.utf8_text);
  EXPECT_EQ(source.tried_in_order,
            (std::vector<std::wstring>{platform::FromUtf8(root + "/var/log/messages"),
                                       platform::FromUtf8(root + "/var/log/dmesg")}));

  std::ofstream(dir / "var/log/kern.log") << "k\n";
  source = file::LinuxSetupLogs(root);
  ASSERT_EQ(source.tried_in_order.size(), 3u);
  EXPECT_EQ(source.tried_in_order[0], platform::FromUtf8(root + "/var/log/kern.log"));

  EXPECT_TRUE(file::LinuxSetupLogs(root + "/nowhere").tried_in_order.empty());
}

TEST_F(LinuxAdapterTest, SetupLogsSkipWhatThisUserCannotRead) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  fs::create_directories(dir / "var/log");
  std::ofstream(dir / "var/log/kern.log") << "k\n";
  std::ofstream(dir / "var/log/syslog") << "s\n";
  ::chmod((dir / "var/log/kern.log").c_str(), 0);
  const auto source = file::LinuxSetupLogs(dir.string());
  EXPECT_EQ(source.tried_in_order,
            std::vector<std::wstring>{platform::FromUtf8((dir / "var/log/syslog").string())});
}

TEST_F(LinuxAdapterTest, OpenerRunsDetachedAndIsNotWaitedFor) {
  // The opener records its argument and session, then waits until the test
  // releases it; an Execute that waited for it would only return after the
  // opener gave up, and the record would say so.
  const fs::path opener = dir / "opener";
  std::ofstream(opener) << "#!/bin/sh\n"
                        << "echo \"$1\" > '" << (dir / "arg").string() << "'\n"
                        << "awk '{print $6}' /proc/$$/stat > '" << (dir / "sid").string() << "'\n"
                        << "i=0; while [ $i -lt 100 ]; do\n"
                        << "  [ -e '" << (dir / "release").string() << "' ] && "
                        << "{ echo released > '" << (dir / "end").string() << "'; exit 0; }\n"
                        << "  sleep 0.1; i=$((i+1)); done\n"
                        << "echo timeout > '" << (dir / "end").string() << "'\n";
  fs::permissions(opener, fs::perms::owner_all);

  file::XdgShell shell(opener.string());
  const std::wstring report = platform::FromUtf8((dir / "r\u00e9port one.html").string());
  shell.Execute(0, L"open", report, L"", L"", 0);
  std::ofstream(dir / "release") << "";

  EXPECT_EQ(AwaitFile(dir / "end"), "released\n");
  EXPECT_EQ(Slurp(dir / "arg"), (dir / "r\u00e9port one.html").string() + "\n");
  const std::string sid = Slurp(dir / "sid");
  EXPECT_NE(sid, std::to_string(::getsid(0)) + "\n");  // a session of its own
}

TEST_F(LinuxAdapterTest, MissingOpenerPassesSilently) {
  file::XdgShell shell((dir / "no-such-opener").string());
  EXPECT_NO_THROW(shell.Execute(0, L"open", L"/nonexistent.html", L"", L"", 0));
}

}  // namespace

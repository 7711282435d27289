// The setup-log excerpt from the systemd journal, against journal files the
// test writes with systemd-journal-remote (from the journal export format).
#include "files/linux/kernel_journal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "files/linux/posix_file_system.h"
#include "files/setup_log.h"
#include "platform/message_pump.h"

namespace {

namespace fs = std::filesystem;

constexpr char kMachine[] = "0123456789abcdef0123456789abcdef";
constexpr char kThisBoot[] = "11111111222233334444555555555555";
constexpr char kEarlierBoot[] = "99999999888877776666555555555555";
// 2024-12-07 16:46:40 UTC.
constexpr long long kStart = 1733590000;

std::string JournalRemote() {
  for (const char* p :
       {"/lib/systemd/systemd-journal-remote", "/usr/lib/systemd/systemd-journal-remote"}) {
    if (::access(p, X_OK) == 0) return p;
  }
  return "";
}

class KernelJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    remote_ = JournalRemote();
    if (remote_.empty())
      GTEST_SKIP() << "systemd-journal-remote is not installed (scripts/deps.sh)";
    std::string tmpl = (fs::temp_directory_path() / "kestrova-journal-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
    // Times in the excerpt are local; the test's are UTC.
    const char* tz = std::getenv("TZ");
    if (tz != nullptr) saved_tz_ = tz;
    had_tz_ = tz != nullptr;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
    if (had_tz_) {
      ::setenv("TZ", saved_tz_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

  // One entry in the journal export format.
  void Entry(const std::string& boot, long long seconds, const std::string& transport,
             const std::string& message) {
    export_ << "__REALTIME_TIMESTAMP=" << seconds * 1000000 << "\n"
            << "__MONOTONIC_TIMESTAMP=" << (seconds - kStart + 100000) * 1000000 << "\n"
            << "_BOOT_ID=" << boot << "\n"
            << "_MACHINE_ID=" << kMachine << "\n"
            << "_HOSTNAME=desk\n"
            << "_TRANSPORT=" << transport << "\n";
    if (message.find('\n') == std::string::npos) {
      export_ << "MESSAGE=" << message << "\n\n";
      return;
    }
    // A value with a newline goes in the binary form: name, 64-bit
    // little-endian length, the bytes.
    export_ << "MESSAGE\n";
    for (int i = 0; i < 8; ++i) export_.put(static_cast<char>((message.size() >> (8 * i)) & 0xFF));
    export_ << message << "\n\n";
  }
  // Writes the entries so far as the system journal under root_.
  void WriteJournal(const std::string& dir = "var/log/journal") {
    const fs::path in = root_ / "entries.export";
    std::ofstream(in, std::ios::binary) << export_.str();
    const fs::path out = root_ / dir / kMachine / "system.journal";
    fs::create_directories(out.parent_path());
    const std::string cmd =
        remote_ + " --output='" + out.string() + "' '" + in.string() + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    fs::remove(in);
  }
  void BootId(const std::string& dashed) {
    fs::create_directories(root_ / "proc/sys/kernel/random");
    std::ofstream(root_ / "proc/sys/kernel/random/boot_id") << dashed << "\n";
  }

  std::string remote_;
  fs::path root_;
  std::ostringstream export_;
  std::string saved_tz_;
  bool had_tz_ = false;
};

TEST_F(KernelJournalTest, TheLastKernelLinesOfThisBootInTheExcerptForm) {
  Entry(kEarlierBoot, kStart - 86400, "kernel", "an earlier boot");
  for (int i = 1; i <= 24; ++i) {
    Entry(kThisBoot, kStart + i, "kernel", "line " + std::to_string(i));
    if (i % 5 == 0) Entry(kThisBoot, kStart + i, "journal", "not the kernel");
  }
  Entry(kThisBoot, kStart + 25, "kernel",
        "usb 1-2: Product: Cl\xC3\xA9 USB\n");  // UTF-8, a trailing newline
  WriteJournal();
  BootId("11111111-2222-3333-4444-555555555555");

  const std::wstring lines = file::KernelJournalLines(root_.string(), file::kSetupLogLines);
  // Lines 6..24 and the last one: twenty, oldest first.
  std::wstring expected;
  for (int i = 6; i <= 24; ++i) {
    const int s = 40 + i;
    wchar_t when[32];
    std::swprintf(when, 32, L"Dec 07 16:%02d:%02d", 46 + s / 60, s % 60);
    expected += std::wstring(when) + L" desk kernel: line " + std::to_wstring(i) + L"\r\n";
  }
  expected += L"Dec 07 16:47:05 desk kernel: usb 1-2: Product: Cl\u00E9 USB\r\n";
  EXPECT_EQ(lines, expected);

  // The report's excerpt: each line preceded by CR LF, the files not read.
  fs::create_directories(root_ / "var/log");
  std::ofstream(root_ / "var/log/kern.log") << "from the file\n";
  file::PosixFileSystem files;
  platform::NoMessagePump pump;
  const std::wstring excerpt = file::LinuxSetupLogExcerpt(files, pump, root_.string());
  EXPECT_EQ(excerpt, L"\r\n" + expected.substr(0, expected.size() - 2));
}

TEST_F(KernelJournalTest, WithoutThisBootsIdTheNewestBootInTheJournal) {
  Entry(kEarlierBoot, kStart, "kernel", "older");
  Entry(kThisBoot, kStart + 60, "kernel", "newer");
  WriteJournal("run/log/journal");  // the volatile journal counts as well
  EXPECT_EQ(file::KernelJournalLines(root_.string(), 20),
            L"Dec 07 16:47:40 desk kernel: newer\r\n");
  EXPECT_EQ(file::KernelJournalLines(root_.string(), 0), L"");
}

TEST_F(KernelJournalTest, TheLogFilesServeWhenTheJournalHasNothingForThisBoot) {
  Entry(kEarlierBoot, kStart, "kernel", "an earlier boot");
  Entry(kThisBoot, kStart + 1, "syslog", "not the kernel");
  WriteJournal();
  BootId("11111111-2222-3333-4444-555555555555");
  fs::create_directories(root_ / "var/log");
  std::ofstream(root_ / "var/log/syslog") << "first\nsecond\n";

  file::PosixFileSystem files;
  platform::NoMessagePump pump;
  EXPECT_EQ(file::KernelJournalLines(root_.string(), 20), L"");
  EXPECT_EQ(file::LinuxSetupLogExcerpt(files, pump, root_.string()), L"\r\nfirst\r\nsecond");

  // No journal at all, no log file: the notice.
  fs::remove_all(root_ / "var");
  EXPECT_EQ(file::LinuxSetupLogExcerpt(files, pump, root_.string()), file::kNoSetupLogText);
}

TEST_F(KernelJournalTest, AJournalThisUserMayNotReadIsPassedOver) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  Entry(kThisBoot, kStart, "kernel", "secret");
  WriteJournal();
  BootId("11111111-2222-3333-4444-555555555555");
  ::chmod((root_ / "var/log/journal" / kMachine / "system.journal").c_str(), 0);
  fs::create_directories(root_ / "var/log");
  std::ofstream(root_ / "var/log/kern.log") << "k\n";
  file::PosixFileSystem files;
  platform::NoMessagePump pump;
  EXPECT_EQ(file::LinuxSetupLogExcerpt(files, pump, root_.string()), L"\r\nk");
}

}  // namespace

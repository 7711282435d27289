#include "sysinfo/linux/linux_computer_facts.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fakes/fake_info_ui.h"
#include "platform/codepage.h"
#include "sysinfo/computer_facts.h"

namespace {

namespace fs = std::filesystem;

const fs::path kData = fs::path(KESTROVA_TEST_DATA) / "sysinfo";

constexpr wchar_t kLaptopBlock[] =
    L"\r\nbios=LENOVO,N1EET85W (1.58 ),06/18/2020"
    L"\r\nCSName=kestrel-lab"
    L"\r\nCaption=Debian GNU/Linux 12 (bookworm)"
    L"\r\nVersion=6.1.0-13-amd64"
    L"\r\nMaxProcessMemorySize=4194304"
    L"\r\nOSArchitecture=64bits"
    L"\r\nIdentifyingNumber=PC0ABCDE"
    L"\r\nCSProuctVersion=ThinkPad P50"
    L"\r\nModel=20ENCTO1WW (ThinkPad P50- SKU:LENOVO_MT_20EN_BU_Think_FM_ThinkPad P50)"
    L"\r\nManufacturer=LENOVO";

std::wstring CollectUnder(const fs::path& root) {
  return sysinfo::FormatComputerBlock(sysinfo::ReadLinuxComputerFacts(root));
}

// The block of this platform's own source, as the scan makes it.
std::wstring CollectLocal(fakes::FakeInfoUi& ui) {
  return sysinfo::CollectComputerBlock(*sysinfo::MakeComputerFactsSource(ui), ui);
}

// A writable copy of a fixture tree, removed afterwards.
class TreeCopy {
 public:
  explicit TreeCopy(const fs::path& from) {
    char name[] = "/tmp/kestrova-sysinfo-XXXXXX";
    root_ = mkdtemp(name);
    fs::copy(from, root_, fs::copy_options::recursive);
  }
  ~TreeCopy() {
    std::error_code ec;
    fs::permissions(Dmi() / "product_serial", fs::perms::owner_all, ec);
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }
  fs::path Dmi() const { return root_ / "sys/class/dmi/id"; }
  void Write(const fs::path& relative, const std::string& text) const {
    std::ofstream(root_ / relative, std::ios::binary) << text;
  }

 private:
  fs::path root_;
};

TEST(LinuxComputerFactsTest, WithoutDmiOnlyTheOperatingSystemIsDescribed) {
  const std::wstring block = CollectUnder(kData / "vm-no-dmi");
#if defined(__x86_64__)
  EXPECT_EQ(block,
            L"\r\nCSName=vm32\r\nCaption=Linux\r\nVersion=5.10.0-28-686-pae"
            L"\r\nMaxProcessMemorySize=137438953468\r\nOSArchitecture=32bits");
#else
  EXPECT_EQ(block.rfind(L"\r\nCSName=vm32\r\nCaption=Linux\r\nVersion=5.10.0-28-686-pae", 0), 0u);
  EXPECT_NE(block.find(L"\r\nOSArchitecture=32bits"), std::wstring::npos);
#endif
}

TEST(LinuxComputerFactsTest, NothingToReadGivesAnEmptyBlock) {
  TreeCopy tree(kData / "vm-no-dmi");
  fs::remove_all(tree.root() / "etc");
  fs::remove_all(tree.root() / "proc");
  EXPECT_EQ(CollectUnder(tree.root()), L"");
}

TEST(LinuxComputerFactsTest, UnreadableOrMissingDmiFilesAreNullValues) {
  TreeCopy tree(kData / "laptop");
  const fs::path serial = tree.Dmi() / "product_serial";
  fs::permissions(serial, fs::perms::owner_write);  // root-only, as on a live system
  if (std::ifstream(serial).good()) {
    // Running as root: a file that can't be read as a file instead.
    fs::remove(serial);
    fs::create_directory(serial);
  }
  fs::remove(tree.Dmi() / "product_sku");
  fs::remove(tree.Dmi() / "bios_version");
  tree.Write("sys/class/dmi/id/sys_vendor", "Soci\xc3\xa9t\xc3\xa9 G\xc3\xa9n\xc3\xa9rale\n");
  tree.Write("proc/self/limits",
             "Max address space         unlimited            unlimited   bytes\n");

  const std::wstring block = CollectUnder(tree.root());
  EXPECT_EQ(block.rfind(L"\r\nbios=LENOVO,06/18/2020\r\n", 0), 0u) << block;
  EXPECT_NE(block.find(L"\r\nIdentifyingNumber=\r\n"), std::wstring::npos) << block;
  EXPECT_NE(block.find(L"\r\nModel=20ENCTO1WW (ThinkPad P50)\r\n"), std::wstring::npos) << block;
  EXPECT_NE(block.find(L"\r\nManufacturer=Soci\u00e9t\u00e9 G\u00e9n\u00e9rale"),
            std::wstring::npos);
  EXPECT_EQ(block.find(L"MaxProcessMemorySize=4194304"), std::wstring::npos) << "no limit now";
}

TEST(LinuxComputerFactsTest, OneRecordOfEachKindFromDmi) {
  const sysinfo::ComputerFacts facts = sysinfo::ReadLinuxComputerFacts(kData / "laptop");
  ASSERT_EQ(facts.systems->size(), 1u);
  EXPECT_EQ(facts.systems->front().model, L"20ENCTO1WW");
  EXPECT_EQ(facts.systems->front().manufacturer, L"LENOVO");
  ASSERT_EQ(facts.products->size(), 1u);
  EXPECT_EQ(facts.products->front().version, L"ThinkPad P50");
  EXPECT_EQ(facts.model_sku, L"ThinkPad P50- SKU:LENOVO_MT_20EN_BU_Think_FM_ThinkPad P50");
  ASSERT_EQ(facts.bios_versions->size(), 1u);
  ASSERT_EQ(facts.operating_systems->size(), 1u);
  EXPECT_EQ(facts.operating_systems->front().computer_name, L"kestrel-lab");

  // Without DMI: the groups are there, with no record in them.
  const sysinfo::ComputerFacts vm = sysinfo::ReadLinuxComputerFacts(kData / "vm-no-dmi");
  EXPECT_TRUE(vm.systems->empty() && vm.products->empty() && vm.bios_versions->empty());
  EXPECT_EQ(vm.model_sku, L"");
}

TEST(LinuxComputerFactsTest, OsReleaseValues) {
  const std::string text =
      "NAME=\"Fedora Linux\"\nPRETTY_NAME='Fedora \"39\"'\nX=\"a \\\"q\\\" \\\\ \\$HOME\\n\"\n"
      "ID=fedora\r\nID=fedora2\nEMPTY=\n";
  EXPECT_EQ(sysinfo::OsReleaseValue(text, "NAME"), "Fedora Linux");
  EXPECT_EQ(sysinfo::OsReleaseValue(text, "PRETTY_NAME"), "Fedora \"39\"");
  EXPECT_EQ(sysinfo::OsReleaseValue(text, "X"), "a \"q\" \\ $HOME\\n");
  EXPECT_EQ(sysinfo::OsReleaseValue(text, "ID"), "fedora2");
  EXPECT_EQ(sysinfo::OsReleaseValue(text, "EMPTY"), "");
  EXPECT_EQ(sysinfo::OsReleaseValue(text, "VERSION"), std::nullopt);
  EXPECT_EQ(sysinfo::OsReleaseValue(text, "NAM"), std::nullopt);
}

TEST(LinuxComputerFactsTest, SixtyFourBitKernels) {
  for (const char* machine : {"x86_64", "aarch64", "ppc64le", "s390x", "riscv64"}) {
    EXPECT_TRUE(sysinfo::IsMachine64Bit(machine)) << machine;
  }
  for (const char* machine : {"i686", "armv7l", "s390", "riscv32", ""}) {
    EXPECT_FALSE(sysinfo::IsMachine64Bit(machine)) << machine;
  }
}

// Scoped KESTROVA_SYSROOT.
class SysRoot {
 public:
  explicit SysRoot(const char* value) {
    if (const char* old = std::getenv("KESTROVA_SYSROOT")) old_ = old;
    if (value) {
      setenv("KESTROVA_SYSROOT", value, 1);
    } else {
      unsetenv("KESTROVA_SYSROOT");
    }
  }
  ~SysRoot() {
    if (old_) {
      setenv("KESTROVA_SYSROOT", old_->c_str(), 1);
    } else {
      unsetenv("KESTROVA_SYSROOT");
    }
  }

 private:
  std::optional<std::string> old_;
};

TEST(LinuxComputerFactsTest, CompositionReadsUnderKestrovaSysroot) {
  SysRoot root((kData / "laptop").c_str());
  fakes::FakeInfoUi ui;
  EXPECT_EQ(CollectLocal(ui), kLaptopBlock);
  EXPECT_EQ(ui.statuses, std::vector<std::wstring>{L"Getting Hardware Info"});
}

TEST(LinuxComputerFactsTest, ThisMachineGivesWhatItCan) {
  SysRoot root(nullptr);
  fakes::FakeInfoUi ui;
  const std::wstring block = CollectLocal(ui);

  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  utsname names{};
  ASSERT_EQ(uname(&names), 0);
  const std::wstring expected_os = L"\r\nCSName=" + platform::FromUtf8(host) + L"\r\nCaption=";
  EXPECT_NE(block.find(expected_os), std::wstring::npos) << block;
  EXPECT_NE(block.find(L"\r\nVersion=" + platform::FromUtf8(names.release) + L"\r\n"),
            std::wstring::npos);
  EXPECT_NE(block.find(L"\r\nMaxProcessMemorySize="), std::wstring::npos);
  const bool kernel64 = sysinfo::IsMachine64Bit(names.machine);
  EXPECT_NE(block.find(kernel64 ? L"OSArchitecture=64bits" : L"OSArchitecture=32bits"),
            std::wstring::npos);
  const bool has_dmi = fs::is_directory("/sys/class/dmi/id");
  EXPECT_EQ(block.rfind(L"\r\nbios=", 0) == 0, has_dmi) << block;
  EXPECT_EQ(block.find(L"\r\nModel=") != std::wstring::npos, has_dmi) << block;
}

}  // namespace

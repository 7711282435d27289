#include "sysinfo/linux/linux_wmi.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fakes/fake_wmi.h"
#include "platform/codepage.h"
#include "sysinfo/computer_info.h"
#include "sysinfo/platform_sysinfo.h"

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
  sysinfo::LinuxWmi wmi(root);
  sysinfo::LinuxSystemProbe probe(root);
  fakes::FakeInfoUi ui;
  return sysinfo::CollectComputerInfo(wmi, probe, ui);
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

TEST(LinuxWmiTest, WithoutDmiOnlyTheOperatingSystemIsDescribed) {
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

TEST(LinuxWmiTest, NothingToReadGivesAnEmptyBlock) {
  TreeCopy tree(kData / "vm-no-dmi");
  fs::remove_all(tree.root() / "etc");
  fs::remove_all(tree.root() / "proc");
  EXPECT_EQ(CollectUnder(tree.root()), L"");
}

TEST(LinuxWmiTest, UnreadableOrMissingDmiFilesAreNullValues) {
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

TEST(LinuxWmiTest, MonikersClassesAndPropertyNamesAsWmiAcceptsThem) {
  sysinfo::LinuxWmi wmi(kData / "laptop");
  EXPECT_EQ(wmi.Connect(L"winmgmts:\\\\.\\root\\default"), nullptr);
  EXPECT_EQ(wmi.Connect(L"root\\cimv2"), nullptr);
  auto wmi_ns = wmi.Connect(L"winmgmts:\\\\.\\root\\WMI");
  ASSERT_NE(wmi_ns, nullptr);
  EXPECT_EQ(wmi_ns->ExecQuery(L"SELECT * FROM Win32_BIOS", std::nullopt), nullptr);

  auto cimv2 = wmi.Connect(L"WINMGMTS:\\\\.\\ROOT\\CIMV2");
  ASSERT_NE(cimv2, nullptr);
  EXPECT_EQ(cimv2->ExecQuery(L"SELECT * FROM Win32_Fan", std::nullopt), nullptr);
  EXPECT_EQ(cimv2->ExecQuery(L"SELECT Model FROM Win32_ComputerSystem", std::nullopt), nullptr);
  auto set = cimv2->ExecQuery(L"  select * from win32_computersystem ", 48L);
  ASSERT_NE(set, nullptr);
  auto walk = set->Enumerate();
  ASSERT_NE(walk, nullptr);
  auto item = walk->Next();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Get(L"mODEL"), sysinfo::WmiValue(std::wstring(L"20ENCTO1WW")));
  EXPECT_EQ(item->Get(L"NoSuchProperty"), std::nullopt);
  EXPECT_EQ(walk->Next(), nullptr);
  // A second walk of the same set starts again from the first item.
  EXPECT_NE(set->Enumerate()->Next(), nullptr);
}

TEST(LinuxWmiTest, OsReleaseValues) {
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

TEST(LinuxWmiTest, SixtyFourBitKernels) {
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

TEST(LinuxWmiTest, CompositionReadsUnderKestrovaSysroot) {
  SysRoot root((kData / "laptop").c_str());
  fakes::FakeInfoUi ui;
  EXPECT_EQ(sysinfo::CollectLocalComputerInfo(ui), kLaptopBlock);
  EXPECT_EQ(ui.statuses, std::vector<std::wstring>{L"Getting Hardware Info"});
}

TEST(LinuxWmiTest, ThisMachineGivesWhatItCan) {
  SysRoot root(nullptr);
  fakes::FakeInfoUi ui;
  const std::wstring block = sysinfo::CollectLocalComputerInfo(ui);

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

#include "ident/linux/linux_disk_identity.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ident/identifiers.h"
#include "ident/linux/linux_guid_source.h"
#include "platform/linux/sysroot.h"

namespace {

namespace fs = std::filesystem;
using ident::DiskIdentity;
using ident::LinuxDiskIdentity;

const std::string kFixture = std::string(KESTROVA_TEST_DATA) + "/ident/sysroot";

// The identity of the n-th fixed disk; empty strings when it tells nothing.
DiskIdentity Drive(const LinuxDiskIdentity& disks, const std::string& root, std::size_t n) {
  return disks.IdentityOf(ident::FixedDisks(root).at(n)).value_or(DiskIdentity{});
}

// A private copy of the fixture tree that a test may change.
class FixtureCopy {
 public:
  FixtureCopy() {
    char tmpl[] = "/tmp/kestrova-ident-XXXXXX";
    root_ = mkdtemp(tmpl);
    fs::copy(kFixture, root_, fs::copy_options::recursive);
  }
  ~FixtureCopy() { fs::remove_all(root_); }
  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

TEST(LinuxDisk, FixedDisksSkipRemovableAndVirtualInNameOrder) {
  EXPECT_EQ(ident::FixedDisks(kFixture),
            (std::vector<std::string>{"nvme0n1", "nvme2n1", "nvme10n1", "sda", "sdb", "vda"}));
  EXPECT_TRUE(ident::FixedDisks(kFixture + "/nowhere").empty());
}

TEST(LinuxDisk, DriveNumbersMapToFixedDisksAndFieldsComeFromSysfs) {
  LinuxDiskIdentity disks(kFixture);
  // Drive 0, the system disk: an NVMe controller's attributes, UTF-8 in sysfs.
  const DiskIdentity first = disks.SystemDisk().value();
  EXPECT_EQ(first.model, L"Fixture NVMe SSD \u00c9vo 1TB");
  EXPECT_EQ(first.serial, L"S5GXNF0R123456");
  EXPECT_EQ(first.firmware, L"2B2QEXM7");
  EXPECT_EQ(Drive(disks, kFixture, 0).serial, first.serial);

  // Drive 1 publishes nothing.
  EXPECT_FALSE(disks.IdentityOf(ident::FixedDisks(kFixture).at(1)));

  // Drive 2: values longer than their fields are cut to them.
  const DiskIdentity cut = Drive(disks, kFixture, 2);
  EXPECT_EQ(cut.model, L"A MODEL NAME LONGER THAN THE FORTY CHARA");
  EXPECT_EQ(cut.serial, L"NV10");
  EXPECT_EQ(cut.firmware, L"LONGFIRM");

  // Drive 3: the IDENTIFY copy of a SATA disk beats its cut SCSI model.
  const DiskIdentity sata = Drive(disks, kFixture, 3);
  EXPECT_EQ(sata.model, L"FIXTURE SATA DISK 500GB");
  EXPECT_EQ(sata.serial, L"WD-FIX123456");
  EXPECT_EQ(sata.firmware, L"01.01A01");
}

TEST(LinuxDisk, ScsiAndVirtioDisksPublishWhatTheyHave) {
  LinuxDiskIdentity disks(kFixture);
  const auto sdb = disks.IdentityOf("sdb");
  ASSERT_TRUE(sdb);
  EXPECT_EQ(sdb->model, L"Virtual disk");
  EXPECT_EQ(sdb->serial, L"6000c29a1b2c3d4e5f60");
  EXPECT_EQ(sdb->firmware, L"1.0");

  const auto vda = disks.IdentityOf("vda");
  ASSERT_TRUE(vda);
  EXPECT_EQ(vda->serial, L"overlayblk");
  EXPECT_EQ(vda->model, L"");

  EXPECT_FALSE(disks.IdentityOf("nvme2n1"));
  EXPECT_FALSE(disks.IdentityOf("nosuchdisk"));
}

TEST(LinuxDisk, DamagedIdentifyCopyAndNonDeviceNodeFallBackToSysfsStrings) {
  FixtureCopy copy;
  const fs::path page = fs::path(copy.root()) / "sys/block/sda/device/vpd_pg89";
  {
    std::fstream f(page, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(60 + 54);  // a model byte: the checksum no longer holds
    f.put('#');
  }
  fs::create_directories(fs::path(copy.root()) / "dev");
  std::ofstream(fs::path(copy.root()) / "dev/sda") << "not a device";

  LinuxDiskIdentity disks(copy.root());
  const DiskIdentity sda = Drive(disks, copy.root(), 3);
  EXPECT_EQ(sda.model, L"FIXTURE SATA DIS");
  EXPECT_EQ(sda.firmware, L"1A01");
  EXPECT_EQ(sda.serial, L"");
}

TEST(LinuxDisk, HardwareIdFallsBackWhenDiskZeroHasNoSerial) {
  FixtureCopy copy;
  LinuxDiskIdentity first(copy.root());
  EXPECT_EQ(ident::HardwareId(first), L"S5GXNF0R123456");
  // Without its NVMe disks the first fixed disk is sda, then without serial.
  for (const char* gone : {"nvme0n1", "nvme2n1", "nvme10n1"}) {
    fs::remove_all(fs::path(copy.root()) / "sys/block" / gone);
  }
  fs::remove(fs::path(copy.root()) / "sys/block/sda/device/vpd_pg89");
  LinuxDiskIdentity second(copy.root());
  EXPECT_EQ(ident::HardwareId(second), L"123456");
  // No disks at all.
  LinuxDiskIdentity none(copy.root() + "/empty");
  EXPECT_FALSE(none.SystemDisk());
  EXPECT_EQ(ident::HardwareId(none), L"123456");
}

TEST(LinuxDisk, AnIdentifyBlockDecodesHighByteFirstUpToItsFirstZero) {
  ident::IdentifyBlock block{};
  const auto put = [&block](int word, char high, char low) {
    block[2 * word + 1] = static_cast<std::uint8_t>(high);
    block[2 * word] = static_cast<std::uint8_t>(low);
  };
  put(27, 'A', 'B');
  put(28, ' ', ' ');
  put(23, 'F', 'W');
  put(24, '\0', 'X');  // ends the firmware revision
  put(10, ' ', 'S');
  put(11, 'N', ' ');
  const DiskIdentity d = ident::DecodeIdentity(block);
  EXPECT_EQ(d.model, L"AB");
  EXPECT_EQ(d.firmware, L"FW");
  EXPECT_EQ(d.serial, L"SN");
  EXPECT_EQ(ident::DecodeIdentity(ident::IdentifyBlock{}).serial, L"");
}

TEST(LinuxDisk, SysrootComesFromTheEnvironment) {
  const char* saved = getenv("KESTROVA_SYSROOT");
  const std::string keep = saved ? saved : "";
  setenv("KESTROVA_SYSROOT", "/some/root", 1);
  EXPECT_EQ(platform::SysRoot().string(), "/some/root");
  setenv("KESTROVA_SYSROOT", "", 1);
  EXPECT_EQ(platform::SysRoot().string(), "/");
  unsetenv("KESTROVA_SYSROOT");
  EXPECT_EQ(platform::SysRoot().string(), "/");
  if (saved) setenv("KESTROVA_SYSROOT", keep.c_str(), 1);
}

// This machine's own disks: only what must hold anywhere.
TEST(LinuxDiskReal, HardwareIdOfThisMachine) {
  LinuxDiskIdentity disks("/");
  const std::wstring id = ident::HardwareId(disks);
  ASSERT_FALSE(id.empty());
  EXPECT_LE(id.size(), 20u);
  EXPECT_NE(id.front(), L' ');
  EXPECT_NE(id.back(), L' ');
  if (ident::FixedDisks("/").empty()) {
    EXPECT_EQ(id, L"123456");
  }
  const DiskIdentity d = disks.SystemDisk().value_or(DiskIdentity{});
  EXPECT_LE(d.model.size(), 40u);
  EXPECT_LE(d.firmware.size(), 8u);
}

TEST(LinuxDiskReal, ScanIdsAreFreshVersionFourGuids) {
  ident::LinuxGuidSource guids;
  const std::wstring a = ident::NewScanId(guids);
  const std::wstring b = ident::NewScanId(guids);
  ASSERT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
  EXPECT_EQ(b.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
  EXPECT_NE(a, b);
  EXPECT_EQ(a[12], L'4');  // the version digit leads Data3
  EXPECT_NE(std::wstring(L"89AB").find(a[16]), std::wstring::npos);  // RFC 4122 variant
}

}  // namespace

#include "ident/linux/linux_disk_port.h"
#include "platform/linux/sysroot.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ident/hdsn.h"
#include "ident/identifiers.h"
#include "ident/linux/linux_guid_source.h"

namespace {

namespace fs = std::filesystem;
using ident::HDSN;
using ident::LinuxDiskPort;

const std::string kFixture = std::string(KESTROVA_TEST_DATA) + "/ident/sysroot";

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
  LinuxDiskPort port(kFixture);
  HDSN reader(port);
  EXPECT_EQ(reader.Platform(), L"WNT");

  // Drive 0: an NVMe controller's attributes, UTF-8 in sysfs.
  EXPECT_EQ(reader.GetModelNumber(), L"Fixture NVMe SSD \u00c9vo 1TB");
  EXPECT_EQ(reader.GetSerialNumber(), L"S5GXNF0R123456");
  EXPECT_EQ(reader.GetFirmwareRevision(), L"2B2QEXM7");

  // Drive 1 publishes nothing.
  reader.CurrentDrive(1);
  EXPECT_EQ(reader.GetModelNumber(), L"");
  EXPECT_EQ(reader.GetSerialNumber(), L"");

  // Drive 2: values longer than their fields are cut to them.
  reader.CurrentDrive(2);
  EXPECT_EQ(reader.GetModelNumber(), L"A MODEL NAME LONGER THAN THE FORTY CHARA");
  EXPECT_EQ(reader.GetSerialNumber(), L"NV10");
  EXPECT_EQ(reader.GetFirmwareRevision(), L"LONGFIRM");

  // Drive 3: the IDENTIFY copy of a SATA disk beats its cut SCSI model.
  reader.CurrentDrive(3);
  EXPECT_EQ(reader.GetModelNumber(), L"FIXTURE SATA DISK 500GB");
  EXPECT_EQ(reader.GetSerialNumber(), L"WD-FIX123456");
  EXPECT_EQ(reader.GetFirmwareRevision(), L"01.01A01");
}

TEST(LinuxDisk, ScsiAndVirtioDisksPublishWhatTheyHave) {
  LinuxDiskPort port(kFixture);
  const auto sdb = port.ReadIdentifyBlock("sdb");
  ASSERT_TRUE(sdb);
  const std::span<const std::uint8_t, 512> b(*sdb);
  EXPECT_EQ(ident::DecodeIdentifyString(b, ident::IdentifyFieldWords(ident::kModelNumber)),
            L"Virtual disk");
  EXPECT_EQ(ident::DecodeIdentifyString(b, ident::IdentifyFieldWords(ident::kSerialNumber)),
            L"6000c29a1b2c3d4e5f60");
  EXPECT_EQ(ident::DecodeIdentifyString(b, ident::IdentifyFieldWords(ident::kFirmwareRevision)),
            L"1.0");

  const auto vda = port.ReadIdentifyBlock("vda");
  ASSERT_TRUE(vda);
  const std::span<const std::uint8_t, 512> v(*vda);
  EXPECT_EQ(ident::DecodeIdentifyString(v, ident::IdentifyFieldWords(ident::kSerialNumber)),
            L"overlayblk");
  EXPECT_EQ(ident::DecodeIdentifyString(v, ident::IdentifyFieldWords(ident::kModelNumber)), L"");

  EXPECT_FALSE(port.ReadIdentifyBlock("nvme2n1"));
  EXPECT_FALSE(port.ReadIdentifyBlock("nosuchdisk"));
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

  LinuxDiskPort port(copy.root());
  HDSN reader(port);
  reader.CurrentDrive(3);
  EXPECT_EQ(reader.GetModelNumber(), L"FIXTURE SATA DIS");
  EXPECT_EQ(reader.GetFirmwareRevision(), L"1A01");
  EXPECT_EQ(reader.GetSerialNumber(), L"");
}

TEST(LinuxDisk, HardwareIdFallsBackWhenDiskZeroHasNoSerial) {
  FixtureCopy copy;
  LinuxDiskPort first(copy.root());
  EXPECT_EQ(modScanLib::GetHardwareId(first), L"S5GXNF0R123456");
  // Without its NVMe disks the first fixed disk is sda, then without serial.
  for (const char* gone : {"nvme0n1", "nvme2n1", "nvme10n1"}) {
    fs::remove_all(fs::path(copy.root()) / "sys/block" / gone);
  }
  fs::remove(fs::path(copy.root()) / "sys/block/sda/device/vpd_pg89");
  LinuxDiskPort second(copy.root());
  EXPECT_EQ(modScanLib::GetHardwareId(second), L"123456");
  // No disks at all.
  LinuxDiskPort none(copy.root() + "/empty");
  EXPECT_EQ(modScanLib::GetHardwareId(none), L"123456");
}

TEST(LinuxDisk, PortOpensOnlyPhysicalDrivesItHasAndAnswersOnlyIdentify) {
  LinuxDiskPort port(kFixture);
  const ident::DiskHandle none = ident::kInvalidDiskHandle;
  EXPECT_EQ(port.CreateFileA("\\\\.\\Smartvsd", ident::OpenMode::kCreateNewNoAccess), none);
  EXPECT_EQ(port.CreateFileA("\\\\.\\PhysicalDrive", ident::OpenMode::kReadWriteExisting), none);
  EXPECT_EQ(port.CreateFileA("\\\\.\\PhysicalDrive6", ident::OpenMode::kReadWriteExisting), none);
  EXPECT_EQ(port.CreateFileA("\\\\.\\PhysicalDrive-1", ident::OpenMode::kReadWriteExisting), none);

  const ident::DiskHandle h =
      port.CreateFileA("\\\\.\\PhysicalDrive5", ident::OpenMode::kReadWriteExisting);
  ASSERT_NE(h, none);
  ASSERT_NE(h, 0u);
  const auto request = ident::BuildIdentifyRequest(1);
  std::array<std::uint8_t, ident::kReplySize> reply{};
  port.DeviceIoControl(h, 0x12345, request, reply);  // not SMART_RCV_DRIVE_DATA
  EXPECT_EQ(reply, decltype(reply){});
  auto other = request;
  other[ident::request_offset::kCommand] = 0xB0;  // a SMART command, not IDENTIFY
  port.DeviceIoControl(h, ident::kSmartRcvDriveData, other, reply);
  EXPECT_EQ(reply, decltype(reply){});

  port.DeviceIoControl(h, ident::kSmartRcvDriveData, request, reply);
  const std::span<const std::uint8_t, 512> block(reply.data() + ident::kReplyHeaderSize, 512);
  EXPECT_EQ(ident::DecodeIdentifyString(block, ident::IdentifyFieldWords(ident::kSerialNumber)),
            L"overlayblk");

  port.CloseHandle(h);
  std::array<std::uint8_t, ident::kReplySize> after{};
  port.DeviceIoControl(h, ident::kSmartRcvDriveData, request, after);
  EXPECT_EQ(after, decltype(after){});
}

TEST(LinuxDisk, BuiltBlockPadsWithSpacesAndLeavesUnpublishedFieldsZero) {
  const auto block = ident::BuildIdentifyBlock("AB", "", "FW");
  EXPECT_EQ(block[2 * 27 + 1], 'A');  // first character in the high byte
  EXPECT_EQ(block[2 * 27], 'B');
  EXPECT_EQ(block[2 * 46 + 1], ' ');
  EXPECT_EQ(block[2 * 46], ' ');
  for (int byte = 20; byte < 40; ++byte) EXPECT_EQ(block[byte], 0) << byte;
  EXPECT_EQ(block[2 * 23 + 1], 'F');
  EXPECT_EQ(block[2 * 26], ' ');
  EXPECT_EQ(block[2 * 47], 0);
  EXPECT_EQ(ident::BuildIdentifyBlock("", "", ""), ident::IdentifyBlock{});
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
  LinuxDiskPort port("/");
  const std::wstring id = modScanLib::GetHardwareId(port);
  ASSERT_FALSE(id.empty());
  EXPECT_LE(id.size(), 20u);
  EXPECT_NE(id.front(), L' ');
  EXPECT_NE(id.back(), L' ');
  if (ident::FixedDisks("/").empty()) {
    EXPECT_EQ(id, L"123456");
  }
  HDSN reader(port);
  EXPECT_LE(reader.GetModelNumber().size(), 40u);
  EXPECT_LE(reader.GetFirmwareRevision().size(), 8u);
}

TEST(LinuxDiskReal, ScanIdsAreFreshVersionFourGuids) {
  ident::LinuxGuidSource guids;
  const std::wstring a = api::NewScanId(guids);
  const std::wstring b = api::NewScanId(guids);
  ASSERT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
  EXPECT_EQ(b.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos);
  EXPECT_NE(a, b);
  EXPECT_EQ(a[12], L'4');  // the version digit leads Data3
  EXPECT_NE(std::wstring(L"89AB").find(a[16]), std::wstring::npos);  // RFC 4122 variant
}

}  // namespace

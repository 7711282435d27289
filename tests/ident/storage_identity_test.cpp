// The limited user's way to the system disk's serial number, over the fake
// disk port. The controls and structures are those of learn.microsoft.com:
// "IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS IOCTL (winioctl.h)",
// "IOCTL_STORAGE_QUERY_PROPERTY IOCTL (winioctl.h)" and
// "STORAGE_DEVICE_DESCRIPTOR structure (winioctl.h)".
#include "ident/win/procedures/storage_identity.h"

#include <gtest/gtest.h>

#include "fakes/fake_disk.h"
#include "ident/win/procedures/hdsn.h"

namespace {

using fakes::FakeDisk;
using ident::OpenMode;

void PutDword(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A STORAGE_DEVICE_DESCRIPTOR with its strings after the fixed part; an
// empty string gets offset 0, as a device without it reports.
std::vector<std::uint8_t> Descriptor(const std::string& product, const std::string& revision,
                                     const std::string& serial) {
  std::vector<std::uint8_t> bytes(36, 0);
  const auto append = [&](std::size_t field, const std::string& text) {
    if (text.empty()) return;
    PutDword(bytes, field, static_cast<std::uint32_t>(bytes.size()));
    bytes.insert(bytes.end(), text.begin(), text.end());
    bytes.push_back(0);
  };
  append(16, product);
  append(20, revision);
  append(24, serial);
  PutDword(bytes, 0, 1);
  PutDword(bytes, 4, static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

std::vector<std::uint8_t> Extents(std::uint32_t count, std::uint32_t first_disk) {
  std::vector<std::uint8_t> bytes(8 + 24 * std::max<std::uint32_t>(count, 1), 0);
  PutDword(bytes, 0, count);
  PutDword(bytes, 8, first_disk);
  return bytes;
}

// The serial field of an ATA disk, right-justified, as IDENTIFY holds it and
// as Windows XP hex-encodes it without undoing the byte order of its words.
constexpr char kAtaSerial[] = "     WD-WCAV12345678";
constexpr char kXpSerial[] = "2020202057202d44435756413231343336353837";

// A limited user: SMART refused, the volume and disk answer a query-only open.
FakeDisk LimitedUser(const std::string& serial) {
  FakeDisk disk;
  disk.answers = false;
  disk.windows_folder = "D:\\WINDOWS";
  disk.replies[ident::kIoctlVolumeGetVolumeDiskExtents] = Extents(1, 2);
  disk.replies[ident::kIoctlStorageQueryProperty] =
      Descriptor("WDC WD5000AAKS", "01.03B01", serial);
  return disk;
}

TEST(StorageIdentity, ALimitedUserGetsTheSystemDisksSerialAsAnAdministratorDoes) {
  FakeDisk limited = LimitedUser(kXpSerial);
  ident::HdsnDiskIdentity limited_source(limited);
  EXPECT_EQ(ident::HardwareId(limited_source), L"WD-WCAV12345678");
  ASSERT_EQ(limited.opens.size(), 3u);
  EXPECT_EQ(limited.opens[0].mode, OpenMode::kReadWriteExisting);  // SMART first, as before
  EXPECT_EQ(limited.opens[1].name, "\\\\.\\D:");
  EXPECT_EQ(limited.opens[1].mode, OpenMode::kQueryOnlyExisting);
  EXPECT_EQ(limited.opens[2].name, "\\\\.\\PhysicalDrive2");
  EXPECT_EQ(limited.opens[2].mode, OpenMode::kQueryOnlyExisting);
  EXPECT_EQ(limited.closed.size(), 3u);
  // The query asks for StorageDeviceProperty with a standard query: all zero.
  EXPECT_EQ(limited.requests.back().request, std::vector<std::uint8_t>(12, 0));

  // Vista and later give the same field as text: the same id.
  FakeDisk later = LimitedUser(kAtaSerial);
  ident::HdsnDiskIdentity later_source(later);
  EXPECT_EQ(ident::HardwareId(later_source), L"WD-WCAV12345678");

  // The administrator's SMART read of that disk: the same id, and no
  // storage query.
  FakeDisk admin;
  fakes::SetAtaString(admin.block, 10, kAtaSerial);
  ident::HdsnDiskIdentity admin_source(admin);
  EXPECT_EQ(ident::HardwareId(admin_source), L"WD-WCAV12345678");
  EXPECT_EQ(admin.opens.size(), 1u);
}

TEST(StorageIdentity, HexSerialsAreDecodedOnlyInXpsForm) {
  EXPECT_EQ(ident::DecodeHexSerial(kXpSerial), kAtaSerial);
  EXPECT_EQ(ident::DecodeHexSerial("3153333241344342202020202020202020202020"),
            "S1234ABC            ");
  EXPECT_EQ(ident::DecodeHexSerial("3153333241344342202020202020202020200000"),
            "S1234ABC          ");  // a NUL ends it
  // A serial that is hex of its own: not 40 digits, or not text once decoded.
  EXPECT_EQ(ident::DecodeHexSerial("5A3B9C2D"), "5A3B9C2D");
  EXPECT_EQ(ident::DecodeHexSerial("0123456789ABCDEF0123456789ABCDEF01234567"),
            "0123456789ABCDEF0123456789ABCDEF01234567");
  EXPECT_EQ(ident::DecodeHexSerial("2020202057202d4443575641323134333635383G"),
            "2020202057202d4443575641323134333635383G");
}

TEST(StorageIdentity, DescriptorStringsComeOnlyFromWhatTheDeviceFilled) {
  const auto whole = Descriptor(" Samsung SSD 970 ", "2B2QEXM7", "0025_3852_91B0_1234.");
  const ident::DiskIdentity id = ident::DecodeStorageDescriptor(whole);
  EXPECT_EQ(id.model, L"Samsung SSD 970");
  EXPECT_EQ(id.firmware, L"2B2QEXM7");
  EXPECT_EQ(id.serial, L"0025_3852_91B0_1234.");

  // No serial (offset 0), an offset past the end, a Size that ends before it.
  EXPECT_EQ(ident::DecodeStorageDescriptor(Descriptor("USB Disk", "1.00", "")).serial, L"");
  auto past_end = whole;
  PutDword(past_end, 24, 5000);
  EXPECT_EQ(ident::DecodeStorageDescriptor(past_end).serial, L"");
  auto short_size = whole;
  PutDword(short_size, 4, 40);
  EXPECT_EQ(ident::DecodeStorageDescriptor(short_size).serial, L"");
  EXPECT_EQ(ident::DecodeStorageDescriptor(std::vector<std::uint8_t>(20, 0xFF)).serial, L"");
}

TEST(StorageIdentity, EachFailingStepLeavesTheFallbackAndClosesWhatItOpened) {
  const auto id_of = [](FakeDisk& disk) {
    ident::HdsnDiskIdentity source(disk);
    return ident::HardwareId(source);
  };
  {
    FakeDisk disk = LimitedUser(kXpSerial);
    disk.windows_folder = "";  // GetSystemWindowsDirectory failed
    EXPECT_EQ(id_of(disk), L"123456");
    EXPECT_EQ(disk.opens.size(), 1u);
  }
  {
    FakeDisk disk = LimitedUser(kXpSerial);
    disk.replies.erase(ident::kIoctlVolumeGetVolumeDiskExtents);
    EXPECT_EQ(id_of(disk), L"123456");
    EXPECT_EQ(disk.opens.size(), 2u);
    EXPECT_EQ(disk.closed.size(), 2u);
  }
  {
    FakeDisk disk = LimitedUser(kXpSerial);
    disk.replies[ident::kIoctlVolumeGetVolumeDiskExtents] = Extents(0, 0);  // no extent
    EXPECT_EQ(id_of(disk), L"123456");
  }
  {
    FakeDisk disk = LimitedUser(kXpSerial);
    disk.replies.erase(ident::kIoctlStorageQueryProperty);
    EXPECT_EQ(id_of(disk), L"123456");
    EXPECT_EQ(disk.closed.size(), 3u);
  }
  {
    FakeDisk disk = LimitedUser("");  // the disk names no serial
    EXPECT_EQ(id_of(disk), L"123456");
  }
  {
    FakeDisk disk = LimitedUser(kXpSerial);
    disk.open_result = ident::kInvalidDiskHandle;  // nothing may be opened
    EXPECT_EQ(id_of(disk), L"123456");
    EXPECT_TRUE(disk.closed.empty());
  }
  {
    FakeDisk disk = LimitedUser(kXpSerial);
    disk.version = {1, 10};  // Windows 98: no storage query there
    EXPECT_EQ(id_of(disk), L"123456");
    EXPECT_EQ(disk.opens.size(), 1u);
  }
}

}  // namespace

// The Win32 adapters against the real system calls (run under Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include "ident/base64.h"
#include "ident/identifiers.h"
#include "ident/win/procedures/hdsn.h"
#include "ident/win/procedures/storage_identity.h"
#include "ident/win/win_disk_port.h"
#include "ident/win/win_guid_source.h"

namespace {

TEST(WinIdent, PlatformIsNtFamily) {
  ident::WinDiskPort port;
  const ident::OsVersion version = port.GetVersionExA();
  EXPECT_EQ(version.platform_id, 2u);
  EXPECT_EQ(ident::HDSN(port).Platform(), L"WNT");
}

TEST(WinIdent, HardwareIdFallsBackWhereSmartAnswersNothing) {
  // Wine opens \\.\PhysicalDrive0 but rejects SMART_RCV_DRIVE_DATA, so the
  // reply stays zero.
  ident::WinDiskPort port;
  EXPECT_EQ(ident::GetHardwareId(port), L"123456");
  ident::HDSN reader(port);
  EXPECT_EQ(reader.GetModelNumber(), L"");
}

// A limited user's way: the Windows volume and its disk, opened with no
// access rights (learn.microsoft.com: "CreateFileA function (fileapi.h)",
// "Physical Disks and Volumes": a zero access lets a program query device
// attributes without administrator rights).
TEST(WinIdent, TheWindowsVolumeOpensWithNoAccessRights) {
  ident::WinDiskPort port;
  const std::string windows = port.GetSystemWindowsDirectoryA();
  ASSERT_GE(windows.size(), 3u);
  EXPECT_EQ(windows[1], ':');
  const ident::DiskHandle volume = port.CreateFileA(std::string("\\\\.\\") + windows[0] + ':',
                                                    ident::OpenMode::kQueryOnlyExisting);
  ASSERT_NE(volume, ident::kInvalidDiskHandle);
  port.CloseHandle(volume);
  // Wine 8 leaves IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS unanswered: no disk,
  // and the id stays the fallback (HardwareIdFallsBackWhereSmartAnswersNothing).
  EXPECT_FALSE(ident::SystemDiskNumber(port, windows));
  EXPECT_FALSE(ident::ReadStorageIdentity(port));
}

TEST(WinIdent, MissingDriveIsNoIdentity) {
  ident::WinDiskPort port;
  EXPECT_EQ(port.CreateFileA("\\\\.\\PhysicalDrive3", ident::OpenMode::kReadWriteExisting),
            ident::kInvalidDiskHandle);
  ident::HDSN reader(port);
  reader.CurrentDrive(3);
  EXPECT_EQ(reader.GetSerialNumber(), L"");
}

TEST(WinIdent, ScanIdsAreFreshUpperCaseHex) {
  ident::WinGuidSource guids;
  const std::wstring a = ident::NewScanId(guids);
  const std::wstring b = ident::NewScanId(guids);
  for (const std::wstring& id : {a, b}) {
    ASSERT_EQ(id.size(), 32u);
    EXPECT_EQ(id.find_first_not_of(L"0123456789ABCDEF"), std::wstring::npos) << id.c_str();
  }
  EXPECT_NE(a, b);
}

// Runs when the code page is Japanese (wine started with LC_ALL=ja_JP.UTF-8):
// characters cost their two Shift-JIS bytes.
TEST(WinIdent, DoubleByteCodePageEncodesTheAnsiBytes) {
  if (GetACP() != 932) GTEST_SKIP() << "code page " << GetACP();
  EXPECT_EQ(ident::Base64Encode(L"\u65e5\u672c"), L"k/qWew==");  // 93 FA 96 7B
  EXPECT_EQ(ident::Base64Encode(L"a\u65e5"), L"YZP6");
  EXPECT_EQ(ident::CharCodeOrZero(L"\u65e5"), static_cast<std::int16_t>(0x93FA));
  EXPECT_EQ(ident::CharCodeOrZero(L"\uff71"), 0xB1);  // half-width katakana: one byte
}

}  // namespace

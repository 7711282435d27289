#include "ident/identifiers.h"

#include <gtest/gtest.h>

#include "fakes/fake_disk.h"
#include "fakes/fake_guid_source.h"
#include "ident/ident_error.h"
#include "ident/win/procedures/hdsn.h"

namespace {

using fakes::FakeDisk;
using fakes::SetAtaString;

TEST(HardwareId, IsTheSerialNumberOfDiskZeroOrTheFallback) {
  const struct {
    const char* name;
    const char* serial_area;  // words 10 to 19, high byte first
    bool answers;
    ident::DiskHandle handle;
    const wchar_t* expected;
  } cases[] = {
      {"serial", "WD-WCC4N1234567     ", true, 0x10, L"WD-WCC4N1234567"},
      {"leading spaces kept off", "   XYZ123", true, 0x10, L"XYZ123"},
      {"one character is no fallback", "Q", true, 0x10, L"Q"},
      {"spaces only", "                    ", true, 0x10, L"123456"},
      {"zero first byte", "", true, 0x10, L"123456"},
      {"request rejected", "NOT READ", false, 0x10, L"123456"},
      {"drive not openable", "NOT READ", true, ident::kInvalidDiskHandle, L"123456"},
  };
  for (const auto& c : cases) {
    FakeDisk disk;
    SetAtaString(disk.block, 10, c.serial_area);
    SetAtaString(disk.block, 27, "MODEL");  // never mistaken for the serial
    disk.answers = c.answers;
    disk.open_result = c.handle;
    EXPECT_EQ(ident::GetHardwareId(disk), c.expected) << c.name;
    // No serial from drive 0: the system disk's storage description is
    // asked next, through the Windows volume (which this fake leaves unanswered).
    const bool has_serial = std::wstring(c.expected) != L"123456";
    ASSERT_EQ(disk.opens.size(), has_serial ? 1u : 2u) << c.name;
    EXPECT_EQ(disk.opens[0].name, "\\\\.\\PhysicalDrive0");
    if (!has_serial) {
      EXPECT_EQ(disk.opens[1].name, "\\\\.\\C:") << c.name;
    }
  }
}

TEST(HardwareId, ReaderErrorsPassThrough) {
  FakeDisk disk;
  disk.version = {0, 0};  // Win32s
  try {
    ident::GetHardwareId(disk);
    ADD_FAILURE() << "no error";
  } catch (const ident::IdentError& e) {
    EXPECT_EQ(e.number(), 10002);
  }
  disk.version = {2, 0};
  disk.open_result = 0;
  EXPECT_THROW(ident::GetHardwareId(disk), ident::IdentError);
}

TEST(ScanId, IsThirtyTwoUpperCaseDigitsOfTheGuidFields) {
  const struct {
    ident::Guid guid;
    const wchar_t* expected;
  } cases[] = {
      {{1, 2, 0xA, {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x0F, 0x10}},
       L"000000010002000A0001020304050F10"},
      {{0xFFFFFFFF, 0xFFFF, 0x8000, {0xFF, 0x80, 0x7F, 0xAB, 0xCD, 0xEF, 0x01, 0x90}},
       L"FFFFFFFFFFFF8000FF807FABCDEF0190"},
      {{0x8000ABCD, 0x0000, 0x0001, {}}, L"8000ABCD000000010000000000000000"},
  };
  for (const auto& c : cases) {
    fakes::FakeGuidSource guids;
    guids.next = c.guid;
    EXPECT_EQ(ident::NewScanId(guids), c.expected);
    EXPECT_EQ(guids.calls, 1);
  }
}

TEST(ScanId, FailedGuidGivesEmpty) {
  fakes::FakeGuidSource guids;
  guids.next.Data1 = 0x12345678;
  guids.result = static_cast<std::int32_t>(0x80004005);
  EXPECT_EQ(ident::NewScanId(guids), L"");
  guids.result = 1;  // S_FALSE is no success either
  EXPECT_EQ(ident::NewScanId(guids), L"");
}

}  // namespace

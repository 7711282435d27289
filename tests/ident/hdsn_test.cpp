#include "ident/win/procedures/hdsn.h"

#include <gtest/gtest.h>

#include "fakes/fake_disk.h"
#include "ident/ident_error.h"
#include "platform/codepage.h"

namespace {

using fakes::FakeDisk;
using fakes::SetAtaString;
using fakes::SetWord;
using ident::HDSN;
using ident::IdentError;

// Lets a test ask for field kinds the public members never pass.
class ProbeHdsn : public HDSN {
 public:
  using HDSN::HDSN;
  using HDSN::ReadIdentifyField;
};

// Runs `f`, expecting IdentError `number`; returns it for further checks.
template <typename F>
IdentError ExpectIdentError(std::int32_t number, F f) {
  try {
    f();
  } catch (const IdentError& e) {
    EXPECT_EQ(e.number(), number);
    return e;
  }
  ADD_FAILURE() << "no IdentError " << number;
  return IdentError(0, L"", L"");
}

TEST(Hdsn, PlatformCodeFollowsPlatformIdAndMinorVersion) {
  const struct {
    std::uint32_t platform_id, minor;
    const wchar_t* code;
  } cases[] = {
      {0, 0, L"32S"}, {1, 0, L"W95"}, {1, 10, L"W98"}, {1, 90, L"W98"}, {2, 0, L"WNT"},
      {2, 1, L"WNT"}, {2, 3, L"WNT"}, {3, 0, L"Unk"},  {7, 1, L"Unk"},
  };
  for (const auto& c : cases) {
    FakeDisk disk;
    disk.version = {c.platform_id, c.minor};
    HDSN reader(disk);
    EXPECT_EQ(reader.Platform(), c.code) << c.platform_id << "." << c.minor;
    EXPECT_EQ(reader.CurrentDrive(), 0);
  }
}

TEST(Hdsn, DetectsThePlatformOnceAtCreation) {
  FakeDisk disk;
  HDSN reader(disk);
  disk.version = {1, 0};
  reader.GetSerialNumber();
  reader.GetModelNumber();
  EXPECT_EQ(disk.version_calls, 1);
  EXPECT_EQ(reader.Platform(), L"WNT");
  EXPECT_EQ(disk.opens.size(), 2u);
}

TEST(Hdsn, CurrentDriveAcceptsZeroToThreeOnly) {
  FakeDisk disk;
  HDSN reader(disk);
  reader.CurrentDrive(3);
  EXPECT_EQ(reader.CurrentDrive(), 3);
  for (int bad : {4, 255}) {
    const IdentError e =
        ExpectIdentError(10000, [&] { reader.CurrentDrive(static_cast<std::uint8_t>(bad)); });
    EXPECT_EQ(e.description(), L"Illegal drive number");
    EXPECT_EQ(e.source(), L"");
    EXPECT_EQ(reader.CurrentDrive(), 3);
  }
}

TEST(Hdsn, NtFamilyRequestBlockHasEveryByteInPlace) {
  for (std::uint8_t drive = 0; drive <= 3; ++drive) {
    FakeDisk disk;
    HDSN reader(disk);
    reader.CurrentDrive(drive);
    reader.GetFirmwareRevision();

    ASSERT_EQ(disk.opens.size(), 1u);
    EXPECT_EQ(disk.opens[0].name, "\\\\.\\PhysicalDrive" + std::to_string(drive));
    EXPECT_EQ(disk.opens[0].mode, ident::OpenMode::kReadWriteExisting);
    ASSERT_EQ(disk.requests.size(), 1u);
    const auto& rq = disk.requests[0];
    EXPECT_EQ(rq.handle, disk.open_result);
    EXPECT_EQ(rq.control_code, 0x7C088u);
    ASSERT_EQ(rq.request.size(), 32u);
    std::vector<std::uint8_t> expected(32, 0);
    expected[0] = 0x00;  // cBufferSize 512, little-endian
    expected[1] = 0x02;
    expected[5] = 1;  // sector count
    expected[6] = 1;  // sector number
    expected[9] = drive % 2 ? 0xB0 : 0xA0;
    expected[10] = 0xEC;
    expected[12] = drive;
    EXPECT_EQ(rq.request, expected) << "drive " << int{drive};
    // The reply goes out zeroed, header and data.
    EXPECT_EQ(rq.reply_as_passed, std::vector<std::uint8_t>(528, 0));
    EXPECT_EQ(disk.closed, std::vector<ident::DiskHandle>{disk.open_result});
  }
}

TEST(Hdsn, WindowsNineXOpensTheSmartDriverAndStillNamesTheDrive) {
  for (std::uint32_t minor : {0u, 10u}) {
    FakeDisk disk;
    disk.version = {1, minor};
    HDSN reader(disk);
    reader.CurrentDrive(2);
    reader.GetSerialNumber();
    ASSERT_EQ(disk.opens.size(), 1u);
    EXPECT_EQ(disk.opens[0].name, "\\\\.\\Smartvsd");
    EXPECT_EQ(disk.opens[0].mode, ident::OpenMode::kCreateNewNoAccess);
    ASSERT_EQ(disk.requests.size(), 1u);
    EXPECT_EQ(disk.requests[0].request[9], 0xA0);
    EXPECT_EQ(disk.requests[0].request[12], 2);
  }
}

TEST(Hdsn, DecodesEachFieldFromItsOwnWords) {
  FakeDisk disk;
  // Neighbouring words hold text too, so an off-by-one shows.
  SetAtaString(disk.block, 9, "<<");
  SetAtaString(disk.block, 10, "SER-0123456789-ABCDE");
  SetAtaString(disk.block, 20, "!!!!!!");
  SetAtaString(disk.block, 23, "FW1.02.3");
  SetAtaString(disk.block, 27, "MODEL TEXT THAT FILLS ALL FORTY BYTES  X");
  SetAtaString(disk.block, 47, ">>");
  HDSN reader(disk);
  EXPECT_EQ(reader.GetSerialNumber(), L"SER-0123456789-ABCDE");
  EXPECT_EQ(reader.GetFirmwareRevision(), L"FW1.02.3");
  EXPECT_EQ(reader.GetModelNumber(), L"MODEL TEXT THAT FILLS ALL FORTY BYTES  X");
  // Each read stands alone: one open, request and close apiece.
  EXPECT_EQ(disk.opens.size(), 3u);
  EXPECT_EQ(disk.requests.size(), 3u);
  EXPECT_EQ(disk.closed.size(), 3u);
}

TEST(Hdsn, DecodingTakesHighByteFirstStopsAtZeroAndTrimsSpacesOnly) {
  const struct {
    const char* name;
    std::vector<std::uint16_t> words;  // from word 10 on
    const wchar_t* serial;
  } cases[] = {
      // The bytes 0x42, 0x41 as stored: low byte 'B', high byte 'A'.
      {"high byte first", {0x4142}, L"AB"},
      {"leading and trailing spaces",
       {0x2020, 0x4142, 0x3132, 0x4344, 0x3334, 0x2020, 0x2020, 0x2020, 0x2020, 0x2020},
       L"AB12CD34"},
      {"zero high byte in the first word", {0x0041, 0x4243}, L""},
      {"zero low byte ends after the high byte", {0x4142, 0x4300, 0x4445}, L"ABC"},
      {"only spaces", std::vector<std::uint16_t>(10, 0x2020), L""},
      {"tab and interior space survive", {0x2009, 0x5820, 0x5920, 0x2020}, L"\tX Y"},
      {"three spaces then XYZ123", {0x2020, 0x2058, 0x595A, 0x3132, 0x3300}, L"XYZ123"},
  };
  for (const auto& c : cases) {
    FakeDisk disk;
    for (std::size_t i = 0; i < c.words.size(); ++i) {
      SetWord(disk.block, 10 + static_cast<int>(i), c.words[i]);
    }
    SetWord(disk.block, 20, 0x5858);  // past the field: never read
    EXPECT_EQ(HDSN(disk).GetSerialNumber(), c.serial) << c.name;
  }
}

TEST(Hdsn, BytesAboveAsciiGoThroughTheCodePage) {
  FakeDisk disk;
  SetWord(disk.block, 27, 0x43E9);  // 'C', then 0xE9
  SetWord(disk.block, 28, 0x2020);
  const std::wstring model = HDSN(disk).GetModelNumber();
  if (platform::ToAnsi(L"\u00e9") != "\xE9") GTEST_SKIP() << "not a Western code page";
  EXPECT_EQ(model, L"C\u00e9");
}

TEST(Hdsn, RejectedRequestGivesEmptyAndStillCloses) {
  FakeDisk disk;
  disk.answers = false;
  SetAtaString(disk.block, 10, "NEVER SEEN");
  HDSN reader(disk);
  EXPECT_EQ(reader.GetSerialNumber(), L"");
  EXPECT_EQ(reader.GetModelNumber(), L"");
  EXPECT_EQ(disk.closed.size(), 2u);
}

TEST(Hdsn, FailedOpenIsNoIdentityAndTouchesNothingMore) {
  FakeDisk disk;
  disk.open_result = ident::kInvalidDiskHandle;
  SetAtaString(disk.block, 10, "NEVER SEEN");
  HDSN reader(disk);
  EXPECT_EQ(reader.GetSerialNumber(), L"");
  EXPECT_EQ(disk.opens.size(), 1u);
  EXPECT_TRUE(disk.requests.empty());
  EXPECT_TRUE(disk.closed.empty());
}

TEST(Hdsn, ZeroHandleRaises10003WithoutRequestOrClose) {
  FakeDisk disk;
  disk.open_result = 0;
  HDSN reader(disk);
  const IdentError e = ExpectIdentError(10003, [&] { reader.GetModelNumber(); });
  EXPECT_EQ(e.description(), L"Error on CreateFile");
  EXPECT_EQ(e.source(), L"");
  EXPECT_TRUE(disk.requests.empty());
  EXPECT_TRUE(disk.closed.empty());
}

TEST(Hdsn, UnknownPlatformRaises10002BeforeOpeningButOtherMembersWork) {
  for (std::uint32_t platform_id : {0u, 5u}) {
    FakeDisk disk;
    disk.version = {platform_id, 0};
    HDSN reader(disk);
    for (auto read : {&HDSN::GetModelNumber, &HDSN::GetSerialNumber, &HDSN::GetFirmwareRevision}) {
      const IdentError e = ExpectIdentError(10002, [&] { (reader.*read)(); });
      EXPECT_EQ(e.description(), L"Illegal platform (only WNT, W98 or W95)");
      EXPECT_EQ(e.source(), L"");
      EXPECT_NE(std::string(e.what()).find("10002"), std::string::npos);
      EXPECT_NE(std::string(e.what()).find("Illegal platform"), std::string::npos);
    }
    EXPECT_TRUE(disk.opens.empty());
    reader.CurrentDrive(1);
    EXPECT_EQ(reader.CurrentDrive(), 1);
    EXPECT_FALSE(reader.Copyright().empty());
    EXPECT_EQ(reader.Platform(), platform_id == 0 ? L"32S" : L"Unk");
  }
}

TEST(Hdsn, UnknownFieldKindRaises10001BeforeAnythingElse) {
  for (std::int32_t kind : {3, -1, 1000}) {
    FakeDisk disk;
    disk.version = {0, 0};  // would raise 10002 if the kind were checked later
    ProbeHdsn reader(disk);
    const IdentError e = ExpectIdentError(10001, [&] { reader.ReadIdentifyField(kind); });
    EXPECT_EQ(e.source(), L"Illegal HD Data type");
    EXPECT_EQ(e.description(), L"");
    EXPECT_NE(std::string(e.what()).find("Illegal HD Data type"), std::string::npos);
    EXPECT_TRUE(disk.opens.empty());
  }
}

}  // namespace

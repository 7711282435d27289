#include "sysinfo/win/procedures/computer_info.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/fake_wmi.h"

namespace {

using fakes::FakeWmiRow;
using sysinfo::WmiNull;
using Strings = std::vector<std::wstring>;

constexpr wchar_t kCimv2[] = L"root\\cimv2";
constexpr wchar_t kWmiNs[] = L"root\\WMI";

class CollectComputerInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ui.log = wmi.log;
    probe.flag_written = 1;
    Bios().rows = {{{L"BIOSVersion", Strings{L"DELL - 1072009", L"1.4.2", L"AMI - 5000B"}},
                    {L"Caption", std::wstring(L"1.4.2")},
                    {L"Version", std::wstring(L"DELL - 1072009")}}};
    Os().rows = {{{L"CSName", std::wstring(L"DESK-7")},
                  {L"Caption", std::wstring(L"Microsoft Windows 10 Pro")},
                  {L"Version", std::wstring(L"10.0.19045")},
                  {L"MaxProcessMemorySize", std::uint64_t{137438953344}}}};
    Product().rows = {{{L"IdentifyingNumber", std::wstring(L"5CG1234XYZ")},
                       {L"Version", std::wstring(L"ThinkPad T14 Gen 2i")},
                       {L"SKUNumber", std::wstring(L"20W0S0A100")}}};
    System().rows = {
        {{L"Model", std::wstring(L"20W0S0A100")}, {L"Manufacturer", std::wstring(L"LENOVO")}}};
    SysInfo().rows = {{{L"SystemFamily", std::wstring(L"ThinkPad T14")},
                       {L"SystemVersion", std::wstring(L"Gen 2i")},
                       {L"SystemSKU", std::wstring(L"LENOVO_MT_20W0")}}};
  }

  fakes::FakeWmiClass& Bios() { return wmi.Class(kCimv2, L"Win32_BIOS"); }
  fakes::FakeWmiClass& Os() { return wmi.Class(kCimv2, L"Win32_OperatingSystem"); }
  fakes::FakeWmiClass& Product() { return wmi.Class(kCimv2, L"Win32_ComputerSystemProduct"); }
  fakes::FakeWmiClass& System() { return wmi.Class(kCimv2, L"Win32_ComputerSystem"); }
  fakes::FakeWmiClass& SysInfo() { return wmi.Class(kWmiNs, L"MS_SystemInformation"); }

  std::wstring Collect() { return sysinfo::CollectComputerInfo(wmi, probe, ui); }

  // The block's lines, without the CR LF in front of each.
  Strings Lines() {
    std::wstring block = Collect();
    Strings lines;
    EXPECT_TRUE(block.empty() || block.rfind(L"\r\n", 0) == 0) << "block must start with CR LF";
    size_t at = 0;
    while (at < block.size()) {
      size_t next = block.find(L"\r\n", at + 2);
      lines.push_back(block.substr(at + 2, next == std::wstring::npos ? next : next - at - 2));
      at = next == std::wstring::npos ? block.size() : next;
    }
    return lines;
  }

  size_t Count(const std::wstring& entry) {
    return std::count(wmi.log->begin(), wmi.log->end(), entry);
  }

  fakes::FakeWmi wmi;
  fakes::FakeSystemProbe probe;
  fakes::FakeInfoUi ui;
};

TEST_F(CollectComputerInfoTest, OrdinaryComputerGivesTheTenLinesExactly) {
  EXPECT_EQ(Collect(),
            L"\r\nbios=DELL - 1072009,1.4.2,AMI - 5000B"
            L"\r\nCSName=DESK-7"
            L"\r\nCaption=Microsoft Windows 10 Pro"
            L"\r\nVersion=10.0.19045"
            L"\r\nMaxProcessMemorySize=137438953344"
            L"\r\nOSArchitecture=64bits"
            L"\r\nIdentifyingNumber=5CG1234XYZ"
            L"\r\nCSProuctVersion=ThinkPad T14 Gen 2i"
            L"\r\nModel=20W0S0A100 (ThinkPad T14/Gen 2i- SKU:LENOVO_MT_20W0)"
            L"\r\nManufacturer=LENOVO");
  EXPECT_EQ(ui.statuses, Strings{L"Getting Hardware Info"});
}

TEST_F(CollectComputerInfoTest,
       StatusFirstFreshConnectionPerQueryAndYieldsWhereTheWindowNeedsThem) {
  Collect();
  const Strings expected = {
      L"status Getting Hardware Info",
      L"connect winmgmts:\\\\.\\root\\cimv2",
      L"query SELECT * FROM Win32_BIOS",
      L"yield",
      L"enumerate",
      L"read BIOSVersion",
      L"yield",
      L"connect winmgmts:\\\\.\\root\\cimv2",
      L"query SELECT * FROM Win32_OperatingSystem",
      L"enumerate",
      L"yield",
      L"read CSName",
      L"read Caption",
      L"read Version",
      L"read MaxProcessMemorySize",
      L"connect winmgmts:\\\\.\\root\\cimv2",
      L"query SELECT * FROM Win32_ComputerSystemProduct",
      L"yield",
      L"enumerate",
      L"yield",
      L"read IdentifyingNumber",
      L"read Version",
      L"connect winmgmts:\\\\.\\root\\WMI",
      L"query SELECT * FROM MS_SystemInformation",
      L"enumerate",
      L"read SystemFamily",
      L"read SystemVersion",
      L"read SystemSKU",
      L"connect winmgmts:\\\\.\\root\\cimv2",
      L"query SELECT * FROM Win32_ComputerSystem",
      L"yield",
      L"enumerate",
      L"yield",
      L"read Model",
      L"read Manufacturer",
  };
  EXPECT_EQ(*wmi.log, expected);
  EXPECT_EQ(ui.yields, 7);
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(*wmi.live_connections, 0) << "every connection released on return";
  // Default flags for the block's own queries, 48 for the SKU lookup.
  const std::vector<std::optional<long>> flags = {std::nullopt, std::nullopt, std::nullopt, 48L,
                                                  std::nullopt};
  EXPECT_EQ(wmi.query_flags, flags);
}

TEST_F(CollectComputerInfoTest, ValuesBecomeTextNullsGiveEmptyValuesUnreadablePropertiesDropLines) {
  Os().rows[0][L"Caption"] = WmiNull{};
  Os().rows[0][L"Version"] = std::nullopt;  // read fails
  Os().rows[0][L"MaxProcessMemorySize"] = std::int64_t{-5};
  Product().rows[0][L"IdentifyingNumber"] = Strings{L"a", L"b"};  // no text form
  System().rows[0].erase(L"Manufacturer");                        // missing property
  probe.flag_written = 0;
  EXPECT_EQ(Lines(), (Strings{L"bios=DELL - 1072009,1.4.2,AMI - 5000B", L"CSName=DESK-7",
                              L"Caption=", L"MaxProcessMemorySize=-5", L"OSArchitecture=32bits",
                              L"CSProuctVersion=ThinkPad T14 Gen 2i",
                              L"Model=20W0S0A100 (ThinkPad T14/Gen 2i- SKU:LENOVO_MT_20W0)"}));
}

TEST_F(CollectComputerInfoTest, UnjoinableBiosVersionRepeatsThePreviousTextAndStillWritesTheLine) {
  Bios().rows = {
      {{L"BIOSVersion", WmiNull{}}},  // nothing joined yet: empty
      {{L"BIOSVersion", Strings{L"A", L"B"}}},
      {{L"BIOSVersion", std::nullopt}},             // read fails: repeats "A,B"
      {},                                           // missing: repeats "A,B"
      {{L"BIOSVersion", std::wstring(L"scalar")}},  // not an array: repeats
      {{L"BIOSVersion", Strings{}}},                // an empty array joins to empty
  };
  Strings lines = Lines();
  lines.resize(6);
  EXPECT_EQ(lines,
            (Strings{L"bios=", L"bios=A,B", L"bios=A,B", L"bios=A,B", L"bios=A,B", L"bios="}));
}

TEST_F(CollectComputerInfoTest, GroupsRepeatPerItemAndAnEmptyQueryWritesNothing) {
  Product().rows.clear();
  Os().rows.push_back({{L"CSName", std::wstring(L"SECOND")}});
  System().rows.push_back({{L"Model", std::wstring(L"M2")}, {L"Manufacturer", WmiNull{}}});
  const Strings lines = Lines();
  EXPECT_EQ(lines,
            (Strings{L"bios=DELL - 1072009,1.4.2,AMI - 5000B", L"CSName=DESK-7",
                     L"Caption=Microsoft Windows 10 Pro", L"Version=10.0.19045",
                     L"MaxProcessMemorySize=137438953344", L"OSArchitecture=64bits",
                     L"CSName=SECOND", L"OSArchitecture=64bits",
                     L"Model=20W0S0A100 (ThinkPad T14/Gen 2i- SKU:LENOVO_MT_20W0)",
                     L"Manufacturer=LENOVO", L"Model=M2 (ThinkPad T14/Gen 2i- SKU:LENOVO_MT_20W0)",
                     L"Manufacturer="}));
  EXPECT_EQ(probe.calls, 2);
  EXPECT_EQ(ui.yields, 8);  // one per OS item, none per absent product item
}

TEST_F(CollectComputerInfoTest, UnenumerableSetsRunTheLoopBodyOnceWithoutAnItem) {
  Bios().enumerate_fails = true;
  Os().enumerate_fails = true;
  Product().enumerate_fails = true;
  System().enumerate_fails = true;
  EXPECT_EQ(Collect(), L"\r\nbios=\r\nOSArchitecture=64bits");
  EXPECT_EQ(probe.calls, 1);
  EXPECT_EQ(Count(L"read CSName"), 0u);
  EXPECT_EQ(ui.yields, 7) << "the single pass yields like an item";
}

TEST_F(CollectComputerInfoTest, FirstConnectionFailingLeavesOnlyTheBiosLineOut) {
  wmi.failing_connects = {0};
  const Strings lines = Lines();
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines.front(), L"CSName=DESK-7");
  EXPECT_EQ(Count(L"query SELECT * FROM Win32_BIOS"), 0u);
}

TEST_F(CollectComputerInfoTest, LaterConnectionFailingKeepsThePreviousConnection) {
  wmi.failing_connects = {1, 2, 4};  // OS, product, computer system (3 is root\WMI)
  EXPECT_EQ(Lines().size(), 10u);
  EXPECT_EQ(*wmi.live_connections, 0);
}

TEST_F(CollectComputerInfoTest, NoWmiAtAllGivesAnEmptyBlock) {
  wmi.failing_connects = {0, 1, 2, 3, 4, 5};
  EXPECT_EQ(Collect(), L"");
  EXPECT_EQ(ui.statuses, Strings{L"Getting Hardware Info"});
  EXPECT_EQ(Count(L"connect winmgmts:\\\\.\\root\\CIMV2"), 1u) << "second SKU lookup tried";
}

TEST_F(CollectComputerInfoTest, FailedQueryLeavesItsGroupOutInsteadOfRereadingTheLastSet) {
  // The BIOS item has Caption and Version: re-walking it would write them as
  // the operating system's.
  Os().query_fails = true;
  System().query_fails = true;
  EXPECT_EQ(Lines(),
            (Strings{L"bios=DELL - 1072009,1.4.2,AMI - 5000B", L"IdentifyingNumber=5CG1234XYZ",
                     L"CSProuctVersion=ThinkPad T14 Gen 2i"}));
  EXPECT_EQ(probe.calls, 0);
}

TEST_F(CollectComputerInfoTest, SkuSuffixComesFromTheSecondLookupOnlyWhenTheFirstIsEmpty) {
  const std::wstring cimv2_upper = L"connect winmgmts:\\\\.\\root\\CIMV2";
  EXPECT_EQ(Lines()[8], L"Model=20W0S0A100 (ThinkPad T14/Gen 2i- SKU:LENOVO_MT_20W0)");
  EXPECT_EQ(Count(cimv2_upper), 0u);

  wmi.log->clear();
  SysInfo().rows.clear();  // firmware reports nothing
  EXPECT_EQ(Lines()[8], L"Model=20W0S0A100 (ThinkPad T14 Gen 2i-SKU: 20W0S0A100)");
  EXPECT_EQ(Count(cimv2_upper), 1u);

  Product().rows[0][L"SKUNumber"] = WmiNull{};
  EXPECT_EQ(Lines()[8], L"Model=20W0S0A100 (ThinkPad T14 Gen 2i)");

  // Both empty: no parentheses.
  Product().rows[0][L"Version"] = std::wstring(L"   ");
  EXPECT_EQ(Lines()[8], L"Model=20W0S0A100");
}

TEST(Is64BitWindowsTest, AsksIsWow64ProcessOnlyWhenKernelExportsIt) {
  fakes::FakeSystemProbe probe;
  probe.flag_written = 1;
  EXPECT_TRUE(sysinfo::Is64BitWindows(probe));

  probe.flag_written = 0;
  EXPECT_FALSE(sysinfo::Is64BitWindows(probe));

  probe.flag_written = 1;
  probe.call_succeeds = false;
  EXPECT_FALSE(sysinfo::Is64BitWindows(probe));
  EXPECT_EQ(probe.calls, 3);

  probe.has_export = false;
  probe.call_succeeds = true;
  EXPECT_FALSE(sysinfo::Is64BitWindows(probe));
  EXPECT_EQ(probe.calls, 3) << "never called when the export is absent";
  EXPECT_EQ(probe.finds, 4);
}

TEST(WmiValueTextTest, TextNumbersNullAndArrays) {
  using sysinfo::JoinedStrings;
  using sysinfo::ValueText;
  EXPECT_EQ(ValueText(std::wstring(L" x ")), L" x ");
  EXPECT_EQ(ValueText(std::int64_t{-9223372036854775807LL - 1}), L"-9223372036854775808");
  EXPECT_EQ(ValueText(std::uint64_t{18446744073709551615ULL}), L"18446744073709551615");
  EXPECT_EQ(JoinedStrings(Strings{L"a b", L"", L"c"}), L"a b,,c");
  EXPECT_EQ(JoinedStrings(std::wstring(L"a")), std::nullopt);
}

}  // namespace

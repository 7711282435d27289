#include <gtest/gtest.h>

#include "fakes/fake_wmi.h"
#include "sysinfo/win/procedures/computer_info.h"

namespace {

using fakes::FakeWmiRow;
using sysinfo::WmiNull;
using sysinfo::WmiValue;

constexpr wchar_t kWmiNs[] = L"root\\WMI";
constexpr wchar_t kCimv2[] = L"root\\cimv2";

// An empty text stands for "the property is the empty string".
FakeWmiRow SystemRow(const std::wstring& family, const std::wstring& version,
                     const std::wstring& sku) {
  return {{L"SystemFamily", family}, {L"SystemVersion", version}, {L"SystemSKU", sku}};
}

FakeWmiRow ProductRow(const std::wstring& version, const std::wstring& sku) {
  return {{L"Version", version}, {L"SKUNumber", sku}};
}

struct SystemCase {
  const wchar_t* family;
  const wchar_t* version;
  const wchar_t* sku;
  const wchar_t* expected;
};

TEST(GetSystemInformationSkuTest, OneItemTable) {
  const SystemCase cases[] = {
      {L"F", L"V", L"S", L"F/V- SKU:S"},
      {L"F", L"F", L"S", L"F- SKU:S"},
      {L"F", L"", L"", L"F"},
      {L"", L"V", L"", L"V"},
      {L"", L"", L"S", L"- SKU:S"},
      {L"", L"", L"", L""},
      {L"", L"V", L"S", L"V- SKU:S"},
      {L"F", L"f", L"", L"F/f"},  // case-sensitive comparison
  };
  for (const SystemCase& c : cases) {
    fakes::FakeWmi wmi;
    wmi.Class(kWmiNs, L"MS_SystemInformation").rows = {SystemRow(c.family, c.version, c.sku)};
    EXPECT_EQ(sysinfo::GetSystemInformationSku(wmi), c.expected)
        << "family '" << c.family << "' version '" << c.version << "' sku '" << c.sku << "'";
  }
}

TEST(GetSystemInformationSkuTest, LaterFamilyReplacesAndLaterSkusAppend) {
  fakes::FakeWmi wmi;
  auto& rows = wmi.Class(kWmiNs, L"MS_SystemInformation").rows;
  rows = {SystemRow(L"F1", L"V1", L"S1"), SystemRow(L"", L"", L"S2")};
  EXPECT_EQ(sysinfo::GetSystemInformationSku(wmi), L"F1/V1- SKU:S1- SKU:S2");
  rows.push_back(SystemRow(L"F3", L"", L"S3"));
  EXPECT_EQ(sysinfo::GetSystemInformationSku(wmi), L"F3- SKU:S3");
  rows.push_back(SystemRow(L"", L"F3", L""));  // equal to the text built so far
  EXPECT_EQ(sysinfo::GetSystemInformationSku(wmi), L"F3- SKU:S3/F3");
}

TEST(GetSystemInformationSkuTest, NullAndUnreadableValuesAreNotTaken) {
  fakes::FakeWmi wmi;
  wmi.Class(kWmiNs, L"MS_SystemInformation").rows = {
      {{L"SystemFamily", WmiNull{}},
       {L"SystemVersion", std::nullopt},
       {L"SystemSKU", std::vector<std::wstring>{L"x"}}},
      {{L"SystemVersion", std::wstring(L"  V ")}, {L"SystemSKU", std::int64_t{42}}},
  };
  EXPECT_EQ(sysinfo::GetSystemInformationSku(wmi), L"  V - SKU:42") << "no trimming here";
}

struct ProductCase {
  const wchar_t* version;
  const wchar_t* sku;
  const wchar_t* expected;
};

TEST(GetComputerProductSkuTest, OneItemTableAndTrimming) {
  const ProductCase cases[] = {
      {L"V", L"S", L"V-SKU: S"}, {L"V", L"", L"V"},         {L"", L"S", L"-SKU: S"},
      {L"", L"", L""},           {L"  V 1  ", L"", L"V 1"}, {L" V", L"S ", L"V-SKU: S"},
      {L"\tV\t", L"", L"\tV\t"},  // spaces only
      {L"   ", L"", L""},
  };
  for (const ProductCase& c : cases) {
    fakes::FakeWmi wmi;
    wmi.Class(kCimv2, L"Win32_ComputerSystemProduct").rows = {ProductRow(c.version, c.sku)};
    EXPECT_EQ(sysinfo::GetComputerProductSku(wmi), c.expected)
        << "version '" << c.version << "' sku '" << c.sku << "'";
  }
}

TEST(GetComputerProductSkuTest, LaterVersionReplacesAndNullsAreNotTaken) {
  fakes::FakeWmi wmi;
  auto& rows = wmi.Class(kCimv2, L"Win32_ComputerSystemProduct").rows;
  rows = {ProductRow(L"V1", L"S1"), ProductRow(L"", L"S2")};
  EXPECT_EQ(sysinfo::GetComputerProductSku(wmi), L"V1-SKU: S1-SKU: S2");
  rows.push_back(ProductRow(L"V3", L""));
  rows.push_back({{L"Version", WmiNull{}}, {L"SKUNumber", WmiNull{}}});
  rows.push_back({});
  EXPECT_EQ(sysinfo::GetComputerProductSku(wmi), L"V3");
}

TEST(SkuLookupTest, EachLooksInItsOwnNamespaceAndEveryFailureGivesTheEmptyString) {
  const struct {
    std::wstring (*lookup)(sysinfo::Wmi&);
    const wchar_t* ns;
    const wchar_t* cls;
    FakeWmiRow row;
    const wchar_t* found;
    const wchar_t* moniker;
  } lookups[] = {
      {sysinfo::GetSystemInformationSku, kWmiNs, L"MS_SystemInformation",
       SystemRow(L"F", L"V", L"S"), L"F/V- SKU:S", L"connect winmgmts:\\\\.\\root\\WMI"},
      {sysinfo::GetComputerProductSku, kCimv2, L"Win32_ComputerSystemProduct",
       ProductRow(L"V", L"S"), L"V-SKU: S", L"connect winmgmts:\\\\.\\root\\CIMV2"},
  };
  for (const auto& l : lookups) {
    fakes::FakeWmi wmi;
    auto& cls = wmi.Class(l.ns, l.cls);
    cls.rows = {l.row};
    EXPECT_EQ(l.lookup(wmi), l.found);
    EXPECT_EQ(wmi.own_log.front(), l.moniker);
    EXPECT_EQ(wmi.query_flags, (std::vector<std::optional<long>>{48L}));

    cls.enumerate_fails = true;  // a Windows without the class
    EXPECT_EQ(l.lookup(wmi), L"") << l.cls;
    cls.enumerate_fails = false;

    cls.query_fails = true;
    wmi.own_log.clear();
    EXPECT_EQ(l.lookup(wmi), L"") << l.cls;
    EXPECT_EQ(wmi.own_log.back(), L"query SELECT * FROM " + std::wstring(l.cls));
    cls.query_fails = false;

    wmi.failing_connects = {wmi.connect_calls};
    wmi.own_log.clear();
    EXPECT_EQ(l.lookup(wmi), L"") << l.cls;
    EXPECT_EQ(wmi.own_log.size(), 1u) << "nothing after a failed connection";
    EXPECT_EQ(*wmi.live_connections, 0);
  }
}

}  // namespace

#include "devices/win/procedures/driver_class.h"

#include <gtest/gtest.h>

#include "fakes/fake_registry.h"

namespace {

using devices::GetDriverClassValue;
using devices::kHkeyLocalMachine;
using fakes::FakeRegistry;

constexpr char kCs1[] =
    "System\\ControlSet001\\Control\\Class\\{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0003";
constexpr char kCs2[] =
    "System\\ControlSet002\\Control\\Class\\{4D36E97D-E325-11CE-BFC1-08002BE10318}\\0003";
constexpr wchar_t kKey[] = L"{4d36e97d-e325-11ce-bfc1-08002be10318}\\0003";

TEST(DriverClassTest, ControlSet001WinsAndControlSet002FillsTheGaps) {
  FakeRegistry fr;
  fr.PutString(kHkeyLocalMachine, kCs1, "DriverVersion", "  10.0.1 ");
  fr.PutString(kHkeyLocalMachine, kCs2, "DriverVersion", "9.9");
  fr.PutString(kHkeyLocalMachine, kCs2, "InfPath", "machine.inf");
  fr.PutString(kHkeyLocalMachine, kCs1, "ProviderName", "");
  fr.PutString(kHkeyLocalMachine, kCs2, "ProviderName", "Contoso");
  fr.PutString(kHkeyLocalMachine, kCs1, "DriverDate", "   ");
  fr.PutString(kHkeyLocalMachine, kCs2, "DriverDate", "1-2-2003");
  fr.PutString(kHkeyLocalMachine, kCs1, "Tabbed", "\tx\t");
  fr.Put(kHkeyLocalMachine, kCs1, "Number", devices::kRegDword, {0x2A, 0, 0, 0});

  EXPECT_EQ(GetDriverClassValue(fr, kKey, L"DriverVersion"), L"10.0.1");
  EXPECT_EQ(GetDriverClassValue(fr, kKey, L"InfPath"), L"machine.inf");
  EXPECT_EQ(GetDriverClassValue(fr, kKey, L"ProviderName"), L"Contoso");  // empty counts as missing
  EXPECT_EQ(GetDriverClassValue(fr, kKey, L"DriverDate"), L"");  // spaces: chosen, then trimmed
  EXPECT_EQ(GetDriverClassValue(fr, kKey, L"Tabbed"), L"\tx\t");
  EXPECT_EQ(GetDriverClassValue(fr, kKey, L"Number"), L"42");
  EXPECT_EQ(GetDriverClassValue(fr, kKey, L"MatchingDeviceId"), L"");
  EXPECT_EQ(fr.open_keys(), 0);
}

TEST(DriverClassTest, ReadsUnderHklmWithTheUpperCasedKeyAndLeavesTheCallersCopy) {
  FakeRegistry fr;
  std::wstring key = kKey;
  GetDriverClassValue(fr, key, L"InfPath");
  EXPECT_EQ(key, kKey);
  ASSERT_EQ(fr.openings.size(), 2u);
  EXPECT_EQ(fr.openings[0].parent, kHkeyLocalMachine);
  EXPECT_EQ(fr.openings[0].path, kCs1);
  EXPECT_EQ(fr.openings[0].access, devices::kKeyRead);
  EXPECT_EQ(fr.openings[1].path, kCs2);

  fr.openings.clear();
  fr.PutString(kHkeyLocalMachine, "System\\ControlSet001\\Control\\Class", "InfPath", "root.inf");
  EXPECT_EQ(GetDriverClassValue(fr, L"", L"InfPath"), L"root.inf");
  EXPECT_EQ(fr.openings[0].path, "System\\ControlSet001\\Control\\Class\\");
}

// HKLM\System\Select "Current" names the control set the system booted
// from, "LastKnownGood" the one a Last Known Good boot falls back to
// (learn.microsoft.com, "NotifyBootConfigStatus function (winsvc.h)" for the
// saved configuration; the Select values as the Service Control Manager reads
// them). Class keys are read from the live set first.
TEST(DriverClassTest, TheLiveControlSetComesFirstThenTheUsualOrder) {
  const auto select = [](FakeRegistry& fr, std::uint32_t current) {
    fr.Put(kHkeyLocalMachine, "System\\Select", "Current", devices::kRegDword,
           {static_cast<std::uint8_t>(current), static_cast<std::uint8_t>(current >> 8), 0, 0});
  };
  const std::wstring cs1 = devices::kControlSet1ClassPath;
  const std::wstring cs2 = devices::kControlSet2ClassPath;
  {
    FakeRegistry fr;  // no Select key, and Current=1: today's order
    EXPECT_EQ(devices::ClassKeyPaths(fr), (std::vector<std::wstring>{cs1, cs2}));
    select(fr, 1);
    EXPECT_EQ(devices::ClassKeyPaths(fr), (std::vector<std::wstring>{cs1, cs2}));
    EXPECT_EQ(fr.open_keys(), 0);
  }
  {
    FakeRegistry fr;
    select(fr, 2);
    const auto paths = devices::ClassKeyPaths(fr);
    EXPECT_EQ(paths, (std::vector<std::wstring>{cs2, cs1}));
    fr.PutString(kHkeyLocalMachine, kCs1, "DriverVersion", "stale");
    fr.PutString(kHkeyLocalMachine, kCs1, "InfPath", "only-in-1.inf");
    fr.PutString(kHkeyLocalMachine, kCs2, "DriverVersion", "live");
    EXPECT_EQ(GetDriverClassValue(fr, kKey, L"DriverVersion", paths), L"live");
    EXPECT_EQ(GetDriverClassValue(fr, kKey, L"InfPath", paths), L"only-in-1.inf");
  }
  {
    FakeRegistry fr;
    select(fr, 12);
    EXPECT_EQ(devices::ClassKeyPaths(fr),
              (std::vector<std::wstring>{L"System\\ControlSet012\\Control\\Class\\", cs1, cs2}));
  }
  for (std::uint32_t odd : {0u, 1000u}) {
    FakeRegistry fr;
    select(fr, odd);
    EXPECT_EQ(devices::ClassKeyPaths(fr), (std::vector<std::wstring>{cs1, cs2})) << odd;
  }
  {
    FakeRegistry fr;  // a Current that is not a DWORD is not trusted
    fr.PutString(kHkeyLocalMachine, "System\\Select", "Current", "2");
    EXPECT_EQ(devices::ClassKeyPaths(fr), (std::vector<std::wstring>{cs1, cs2}));
  }
}

}  // namespace

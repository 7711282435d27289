// The Win32 adapters against Wine's real setup API and registry.
// The tests tidy up with RegDeleteTreeW (Vista and later); the programs keep
// to what Windows XP has.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/win/procedures/cls_registry.h"
#include "devices/win/procedures/driver_class.h"
#include "devices/win/procedures/driver_collection.h"
#include "devices/win/win_device_api.h"
#include "devices/win/win_registry.h"
#include "fakes/fake_device_ui.h"

namespace {

using devices::RegistryClass;
using devices::Variant;

// Wine has no numbered control sets; Windows always has ControlSet001. The
// tests that read class keys link it to the current control set for their
// run, and remove the link after.
class ControlSetLink {
 public:
  ControlSetLink() {
    HKEY probe = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\ControlSet001", 0, KEY_READ, &probe) == 0) {
      RegCloseKey(probe);
      return;  // a real one: leave it alone
    }
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\ControlSet001", 0, nullptr,
                        REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &link_, &disposition) != 0) {
      link_ = nullptr;
      return;
    }
    static const wchar_t kTarget[] = L"\\Registry\\Machine\\System\\CurrentControlSet";
    RegSetValueExW(link_, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(kTarget),
                   sizeof kTarget - sizeof(wchar_t));
  }
  ~ControlSetLink() {
    if (link_ != nullptr) {
      RegDeleteKeyW(link_, L"");
      RegCloseKey(link_);
    }
  }

 private:
  HKEY link_ = nullptr;
};

std::wstring Property(devices::WinDeviceApi& api, devices::DeviceSet set,
                      const devices::DeviceInfoData& d, std::uint32_t p, fakes::FakeDeviceUi& ui) {
  return devices::GetDeviceProperty(api, set, d, p, ui);
}

TEST(WinDevicesTest, WinesPresentDevicesEnumerateWithTheirProperties) {
  devices::WinDeviceApi api;
  fakes::FakeDeviceUi ui;
  const devices::DeviceSet set =
      api.GetClassDevs(devices::kDigcfPresent | devices::kDigcfAllClasses);
  ASSERT_NE(set, devices::kInvalidDeviceSet);
  devices::DeviceInfoData d;
  d.cbSize = 28;  // SP_DEVINFO_DATA in a 32-bit program
  std::uint32_t count = 0;
  int with_compatible_ids = 0;
  while (api.EnumDeviceInfo(set, count, &d)) {
    ++count;
    const std::wstring hwids = Property(api, set, d, devices::kSpdrpHardwareId, ui);
    EXPECT_FALSE(hwids.empty());
    EXPECT_NE(hwids.find(L'\0'), std::wstring::npos);  // one NUL kept after each string
    EXPECT_EQ(Property(api, set, d, devices::kSpdrpFriendlyName, ui), L"");
    EXPECT_FALSE(Property(api, set, d, devices::kSpdrpDeviceDesc, ui).empty());
    if (!Property(api, set, d, devices::kSpdrpCompatibleIds, ui).empty()) ++with_compatible_ids;
    EXPECT_EQ(devices::GetDeviceProblem(api, d.DevInst), 0);
    EXPECT_FALSE(devices::IsDeviceHidden(api, d.DevInst));
  }
  EXPECT_EQ(api.LastError(), static_cast<std::uint32_t>(ERROR_NO_MORE_ITEMS));
  EXPECT_EQ(count, 8u);  // a fresh prefix's monitor, HID, display and bus devices
  EXPECT_GT(with_compatible_ids, 0);
  EXPECT_TRUE(ui.messages.empty());

  // The size query of a present property: 122, its type, the size with the NUL.
  ASSERT_TRUE(api.EnumDeviceInfo(set, 0, &d));
  std::uint32_t type = 0;
  std::uint32_t size = 0;
  EXPECT_FALSE(
      api.GetDeviceRegistryProperty(set, d, devices::kSpdrpDeviceDesc, &type, nullptr, 0, &size));
  EXPECT_EQ(api.LastError(), devices::kErrorInsufficientBuffer);
  EXPECT_EQ(type, devices::kRegSz);
  EXPECT_EQ(size, Property(api, set, d, devices::kSpdrpDeviceDesc, ui).size() + 1);
  EXPECT_TRUE(api.DestroyDeviceInfoList(set));
}

TEST(WinDevicesTest, DriverListOfWinesDevicesReadsTheirClassKeys) {
  ControlSetLink link;
  devices::WinDeviceApi api;
  devices::WinRegistry reg;
  fakes::FakeDeviceUi ui;
  const std::wstring list = devices::CollectDriverList(api, reg, ui);
  ASSERT_EQ(list.substr(0, 11), L"\r\ndriver_1=");
  EXPECT_NE(list.find(L".inf[;]"), std::wstring::npos);
  EXPECT_TRUE(ui.messages.empty());
  // Every entry has its eleven separators and ends in its problem code.
  size_t entries = 0;
  for (size_t at = 0; (at = list.find(L"\r\ndriver_", at)) != std::wstring::npos; ++entries) {
    const size_t next = list.find(L"\r\ndriver_", at + 2);
    const std::wstring entry = list.substr(at, next == std::wstring::npos ? next : next - at);
    size_t separators = 0;
    for (size_t s = 0; (s = entry.find(L"[;]", s)) != std::wstring::npos; s += 3) ++separators;
    EXPECT_EQ(separators, 11u) << std::string(entry.begin(), entry.end());
    EXPECT_EQ(entry.substr(entry.size() - 4), L"[;]0");
    at += 2;
  }
  EXPECT_EQ(entries, 8u);
  EXPECT_EQ(ui.pumps, static_cast<int>(entries) * 12);
}

TEST(WinDevicesTest, ClassKeyValueMatchesTheCurrentControlSet) {
  ControlSetLink link;
  devices::WinRegistry reg;
  RegistryClass cls(reg);
  devices::OneBasedArray<std::wstring> classes;
  const std::wstring root = L"System\\CurrentControlSet\\Control\\Class";
  ASSERT_GT(cls.EnumKey(classes, root, L"HKEY_LOCAL_MACHINE"), 0);
  int found = 0;
  for (int i = 1; i <= classes.UBound(); ++i) {
    devices::OneBasedArray<std::wstring> instances;
    cls.EnumKey(instances, root + L"\\" + classes[i], L"HKEY_LOCAL_MACHINE");
    for (int j = 1; j <= instances.UBound(); ++j) {
      const std::wstring driver_key = classes[i] + L"\\" + instances[j];
      const Variant inf =
          cls.LoadValue(root + L"\\" + driver_key, L"InfPath", Variant(L""), L"HKEY_LOCAL_MACHINE");
      if (inf.ToText().empty()) continue;
      ++found;
      std::wstring lower = driver_key;
      for (auto& c : lower) c = static_cast<wchar_t>(towlower(c));
      EXPECT_EQ(devices::GetDriverClassValue(reg, lower, L"InfPath"), inf.ToText());
    }
  }
  EXPECT_GT(found, 0);
}

// A Last Known Good boot: HKLM\System\Select "Current" names ControlSet002,
// whose class key differs from ControlSet001's stale one. Wine keeps a Select
// key with Current=1 and has no ControlSet002: the set is planted for the
// test and Select put back as it was after.
class LastKnownGoodBoot {
 public:
  LastKnownGoodBoot() {
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\ControlSet002", 0, KEY_READ, &probe) == 0) {
      RegCloseKey(probe);
      planted_ = false;
      return;
    }
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"System\\Select", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &select_, nullptr);
    for (Saved& v : saved_) {
      DWORD size = sizeof v.value;
      v.existed = RegQueryValueExW(select_, v.name, nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&v.value), &size) == 0;
    }
  }
  ~LastKnownGoodBoot() {
    if (!planted_) return;
    for (const Saved& v : saved_) {
      if (v.existed) {
        RegSetValueExW(select_, v.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v.value), 4);
      } else {
        RegDeleteValueW(select_, v.name);
      }
    }
    RegCloseKey(select_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"System\\ControlSet002");
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"System\\ControlSet002");
  }
  bool planted() const { return planted_ && select_ != nullptr; }
  void Select(DWORD current) {
    const DWORD other = current == 1 ? 2 : 1;
    RegSetValueExW(select_, L"Current", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&current), 4);
    RegSetValueExW(select_, L"LastKnownGood", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&other),
                   4);
  }
  void PlantClassValue(const std::wstring& driver_key, const wchar_t* name,
                       const std::wstring& value) {
    const std::wstring path = L"System\\ControlSet002\\Control\\Class\\" + driver_key;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              0);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
  }

 private:
  struct Saved {
    const wchar_t* name;
    DWORD value = 0;
    bool existed = false;
  };
  bool planted_ = true;
  HKEY select_ = nullptr;
  Saved saved_[2] = {{L"Current"}, {L"LastKnownGood"}};
};

TEST(WinDevicesTest, AfterALastKnownGoodBootTheLiveControlSetsClassKeysAreRead) {
  ControlSetLink link;
  LastKnownGoodBoot boot;
  if (!boot.planted()) GTEST_SKIP() << "this prefix has a ControlSet002 of its own";
  devices::WinDeviceApi api;
  devices::WinRegistry reg;
  fakes::FakeDeviceUi ui;
  const auto before = devices::CollectDeviceRecords(api, reg, ui);
  auto with_inf = std::find_if(before.begin(), before.end(),
                               [](const devices::DeviceRecord& r) { return !r.inf_path.empty(); });
  ASSERT_NE(with_inf, before.end());
  const std::wstring driver_key = with_inf->driver_key;
  const std::wstring stale_inf = with_inf->inf_path;

  boot.PlantClassValue(driver_key, L"InfPath", L"lkg-live.inf");
  boot.PlantClassValue(driver_key, L"DriverVersion", L" 2.0.0.2 ");
  const auto find = [&](const std::vector<devices::DeviceRecord>& records) {
    return *std::find_if(records.begin(), records.end(), [&](const devices::DeviceRecord& r) {
      return r.driver_key == driver_key;
    });
  };
  boot.Select(2);
  const auto live = devices::CollectDeviceRecords(api, reg, ui);
  ASSERT_EQ(live.size(), before.size());
  EXPECT_EQ(find(live).inf_path, L"lkg-live.inf");
  EXPECT_EQ(find(live).version, L"2.0.0.2");
  // What the live set lacks still comes from ControlSet001.
  EXPECT_EQ(find(live).date, with_inf->date);

  boot.Select(1);  // an ordinary boot: ControlSet001 as before
  const auto ordinary = devices::CollectDeviceRecords(api, reg, ui);
  EXPECT_EQ(find(ordinary).inf_path, stale_inf);
  // ControlSet002 still fills what ControlSet001 lacks, as before.
  EXPECT_EQ(find(ordinary).version, with_inf->version.empty() ? L"2.0.0.2" : with_inf->version);
  EXPECT_TRUE(ui.messages.empty());
}

class ClsRegistryWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = L"Software\\KestrovaDevicesTest\\" + std::to_wstring(GetCurrentProcessId());
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KestrovaDevicesTest"); }
  std::string KeyClass(const std::wstring& path) {
    HKEY h = nullptr;
    const std::string p(path.begin(), path.end());
    if (RegOpenKeyExA(HKEY_CURRENT_USER, p.c_str(), 0, KEY_READ, &h) != 0) return "<none>";
    char cls[64] = {};
    DWORD size = sizeof cls;
    RegQueryInfoKeyA(h, cls, &size, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
    RegCloseKey(h);
    return cls;
  }
  devices::WinRegistry reg_;
  RegistryClass cls_{reg_};
  std::wstring base_;
};

TEST_F(ClsRegistryWineTest, ValuesRoundTripWithTheirKeyClasses) {
  EXPECT_TRUE(cls_.SaveValue(L"\\" + base_ + L"\\Text", L"t", Variant(L"abc")));
  EXPECT_TRUE(cls_.SaveValue(base_ + L"\\Num", L"n", Variant(7)));
  EXPECT_TRUE(cls_.SaveValue(base_ + L"\\Bin", L"b", Variant(std::vector<std::uint8_t>{1, 2, 3}),
                             L"HKEY_CURRENT_USER", false));
  EXPECT_EQ(cls_.LoadValue(base_ + L"\\Text", L"t"), Variant(L"abc"));
  EXPECT_EQ(cls_.LoadValue(base_ + L"\\Num", L"n"), Variant(7));
  EXPECT_EQ(cls_.LoadValue(base_ + L"\\Bin", L"b"), Variant(std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(KeyClass(base_ + L"\\Text"), "REG_SZ");
  EXPECT_EQ(KeyClass(base_ + L"\\Num"), "REG_DWORD");
  EXPECT_EQ(KeyClass(base_ + L"\\Bin"), "REG_BINARY");

  // The text is stored with its NUL: 4 bytes.
  DWORD type = 0;
  DWORD size = 0;
  const std::string text_key(base_.begin(), base_.end());
  EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, (text_key + "\\Text").c_str(), "t", RRF_RT_ANY, &type,
                         nullptr, &size),
            0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, 4u);

  EXPECT_TRUE(cls_.LoadValue(base_ + L"\\Text", L"missing").IsEmpty());
  EXPECT_EQ(cls_.LoadValue(base_ + L"\\Text", L"t", Variant(L"d"), L"HKEY_LOCAL_MACHINE"),
            Variant(L"d"));
  EXPECT_TRUE(cls_.CreateKey(base_ + L"\\Created", L"v", Variant(1), L"HKEY_CURRENT_USER", true));
  EXPECT_EQ(KeyClass(base_ + L"\\Created"), "REG_DWORD");
}

TEST_F(ClsRegistryWineTest, TextStoredWithoutItsNulOrWithExtraNulsReadsAsWritten) {
  const std::string key(base_.begin(), base_.end());
  HKEY h = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\Raw").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &h, nullptr),
            0);
  // Programs may store the length without the NUL, or pad with NULs.
  ASSERT_EQ(RegSetValueExA(h, "bare", 0, REG_SZ, reinterpret_cast<const BYTE*>("10.0.1"), 6), 0);
  ASSERT_EQ(RegSetValueExA(h, "padded", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>("%windir%\0x\0\0"), 12),
            0);
  RegCloseKey(h);
  EXPECT_EQ(cls_.LoadValue(base_ + L"\\Raw", L"bare"), Variant(L"10.0.1"));
  EXPECT_EQ(cls_.LoadValue(base_ + L"\\Raw", L"padded"), Variant(L"%windir%"));
}

TEST_F(ClsRegistryWineTest, FourHundredFiftySubkeysAndDeleteKeyResults) {
  for (int i = 0; i < 450; ++i) {
    ASSERT_TRUE(cls_.SaveValue(base_ + L"\\Many\\k" + std::to_wstring(1000 + i), L"v", Variant(i)));
  }
  devices::OneBasedArray<std::wstring> keys;
  EXPECT_EQ(cls_.EnumKey(keys, base_ + L"\\Many"), 450);
  EXPECT_EQ(keys.UBound(), 450);
  EXPECT_EQ(keys[1], L"k1000");
  EXPECT_EQ(keys[450], L"k1449");
  devices::OneBasedArray<std::wstring> values;
  EXPECT_EQ(cls_.EnumValue(values, base_ + L"\\Many\\k1000"), 1);
  EXPECT_EQ(values[1], L"v");
  EXPECT_EQ(cls_.EnumKey(keys, base_ + L"\\Many\\k1000"), 0);
  EXPECT_TRUE(keys.IsEmpty());

  EXPECT_EQ(cls_.DeleteKey(base_ + L"\\Many", L"k1000"), 2);
  EXPECT_EQ(cls_.DeleteKey(base_ + L"\\Many", L"k1000"), 1);
  EXPECT_EQ(cls_.DeleteKey(base_ + L"\\Nowhere", L"k1000"), 0);
  EXPECT_EQ(cls_.DeleteKey(base_, L"Many"), 1);       // it still has subkeys
  EXPECT_EQ(cls_.DeleteKey(base_ + L"\\Many"), 450);  // 449 subkeys and the key
  EXPECT_EQ(cls_.EnumKey(keys, base_ + L"\\Many"), 0);
}

}  // namespace

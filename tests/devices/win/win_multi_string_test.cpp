// Multi-string properties read through the ANSI setup API under Wine: the
// same identifiers as the wide call gives, nothing after the list's end.
// clang-format off
#include <windows.h>
#include <setupapi.h>
// clang-format on
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/win/procedures/driver_collection.h"
#include "devices/win/win_device_api.h"
#include "fakes/fake_device_ui.h"

namespace {

// The property through the wide call, each string followed by a NUL, up to
// the list's empty string.
std::wstring WideMultiString(HDEVINFO set, SP_DEVINFO_DATA& d, DWORD property) {
  DWORD type = 0;
  DWORD size = 0;
  SetupDiGetDeviceRegistryPropertyW(set, &d, property, &type, nullptr, 0, &size);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return L"";
  std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
  if (!SetupDiGetDeviceRegistryPropertyW(set, &d, property, &type,
                                         reinterpret_cast<BYTE*>(buffer.data()), size, nullptr)) {
    return L"";
  }
  std::wstring out;
  for (const wchar_t* s = buffer.data(); *s != L'\0'; s += wcslen(s) + 1) {
    out.append(s).push_back(L'\0');
  }
  return out;
}

TEST(WinMultiStringTest, IdentifierListsEndAtTheirEmptyString) {
  devices::WinDeviceApi api;
  fakes::FakeDeviceUi ui;
  const devices::DeviceSet set =
      api.GetClassDevs(devices::kDigcfPresent | devices::kDigcfAllClasses);
  ASSERT_NE(set, devices::kInvalidDeviceSet);
  const auto native = reinterpret_cast<HDEVINFO>(set);
  devices::DeviceInfoData d;
  d.cbSize = 28;
  int lists = 0;
  for (std::uint32_t i = 0; api.EnumDeviceInfo(set, i, &d); ++i) {
    SP_DEVINFO_DATA n{};
    n.cbSize = sizeof n;
    ASSERT_TRUE(SetupDiEnumDeviceInfo(native, i, &n));
    for (DWORD property : {SPDRP_HARDWAREID, SPDRP_COMPATIBLEIDS}) {
      const std::wstring wide = WideMultiString(native, n, property);
      const std::wstring ansi = devices::GetDeviceProperty(api, set, d, property, ui);
      // Wine's identifiers are ASCII: the two reads agree character for character.
      EXPECT_EQ(ansi, wide) << "device " << i << " property " << property;
      if (!wide.empty()) ++lists;
    }
  }
  EXPECT_GT(lists, 8);  // every device's hardware ids and some compatible ids
  EXPECT_TRUE(ui.messages.empty());
  api.DestroyDeviceInfoList(set);
}

}  // namespace

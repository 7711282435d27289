// Where a string and a multi-string end: at the first NUL and at the first
// empty string, whatever the rest of the buffer holds.
#include <gtest/gtest.h>

#include "devices/win/procedures/driver_collection.h"
#include "devices/win/procedures/text.h"
#include "fakes/fake_device_api.h"
#include "fakes/fake_device_ui.h"
#include "fakes/fake_registry.h"

namespace {

using fakes::FakeDeviceApi;
using namespace std::string_literals;

TEST(MultiStringTest, DataEndsAtTheFirstEmptyString) {
  struct Case {
    std::string bytes;
    std::string multi;
    std::string plain;
  };
  const Case cases[] = {
      {"A\0B\0\0"s, "A\0B\0"s, "A"},
      {"root\\winebus\0\0C:\\windows\\in\0"s, "root\\winebus\0"s, "root\\winebus"},
      {"A\0\0B\0\0"s, "A\0"s, "A"},  // a second list after the end is not data
      {"\0A\0\0"s, ""s, ""},         // empty from the start
      {""s, ""s, ""},
      {"A\0B"s, "A\0B\0"s, "A"},  // final NULs missing
      {"AB"s, "AB\0"s, "AB"},
      {"A\0"s, "A\0"s, "A"},  // the list's empty string missing
      {"\xE9\0\0\xFF"s, "\xE9\0"s, "\xE9"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(devices::MultiStringData(c.bytes), c.multi) << c.bytes;
    EXPECT_EQ(devices::TextBeforeNul(c.bytes), c.plain) << c.bytes;
  }
}

// The ANSI property read under Wine: the size of the wide form announced and
// reported again, the ANSI text converted in place, the wide text's tail left
// behind it.
TEST(MultiStringTest, StaleBytesAfterAPropertyNeverReachTheDriverList) {
  fakes::FakeRegistry fr;
  const std::string path = "System\\ControlSet001\\Control\\Class\\{X}\\0000";
  fr.PutString(devices::kHkeyLocalMachine, path, "InfPath", "winebus.inf");
  FakeDeviceApi api;
  FakeDeviceApi::Device d;
  auto hwids = FakeDeviceApi::MultiSz({"root\\winebus"});
  const std::string tail = "C:\\windows\\in";
  hwids.data.insert(hwids.data.end(), tail.begin(), tail.end());
  hwids.data.push_back(0);
  d.properties[devices::kSpdrpHardwareId] = hwids;
  auto compatible = FakeDeviceApi::MultiSz({"A", "B"});
  compatible.data.insert(compatible.data.end(), {'Z', 0, 0});
  d.properties[devices::kSpdrpCompatibleIds] = compatible;
  auto desc = FakeDeviceApi::Sz("Bus");
  desc.data.insert(desc.data.end(), {'s', 't', 'a', 'l', 'e', 0});
  d.properties[devices::kSpdrpDeviceDesc] = desc;
  d.properties[devices::kSpdrpDriver] = FakeDeviceApi::Sz("{X}\\0000");
  api.devices.push_back(d);
  fakes::FakeDeviceUi ui;
  EXPECT_EQ(devices::CollectDriverList(api, fr, ui),
            L"\r\ndriver_1=Bus[;][;][;][;]root\\winebus,[;]root\\winebus,\\{X}\\0000[;]"
            L"[;]winebus.inf[;]root\\winebus,[;]A,B,[;][;]0");
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace

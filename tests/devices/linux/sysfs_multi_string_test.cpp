// The Linux device records hold identifiers that end where they end: an
// empty or garbage identifier cannot cut a list short or add a line to the
// driver list; it is left out.
#include <gtest/gtest.h>

#include "devices/linux/device_records.h"

namespace {

using namespace std::string_literals;

TEST(SysfsMultiStringTest, IdentifiersWindowsCouldNotHaveAreLeftOut) {
  devices::linux_sys::LinuxDevice d;
  d.hardware_ids = {
      "",          "PCI\\VEN_1", "", "PCI\\VEN_2\0junk"s, "ACPI\\A\r\nB", "ACPI\\\xC3\xA9",
      "ACPI\\A,B", "PCI\\VEN_3"};
  d.description = "Dev\r\nice\0junk"s;
  const devices::DeviceRecord r = devices::linux_sys::ToDeviceRecord(d);
  EXPECT_EQ(r.hardware_ids, (std::vector<std::wstring>{L"PCI\\VEN_1", L"PCI\\VEN_3"}));
  EXPECT_EQ(r.device_id, L"PCI\\VEN_1");
  EXPECT_EQ(r.name, L"Dev  ice");
  // Nothing left: the device has no hardware ids, and no device id.
  d.hardware_ids = {"", "\0x"s};
  const devices::DeviceRecord none = devices::linux_sys::ToDeviceRecord(d);
  EXPECT_TRUE(none.hardware_ids.empty());
  EXPECT_EQ(none.device_id, L"");
}

}  // namespace

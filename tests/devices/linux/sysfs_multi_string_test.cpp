// The Linux device set hands out multi-strings that end where their
// identifiers end: an empty or garbage identifier cannot cut a list short or
// add a line to the driver list; it is left out.
#include <gtest/gtest.h>

#include "devices/driver_list.h"
#include "devices/linux/sysfs_device_api.h"
#include "fakes/fake_device_ui.h"

namespace {

using namespace std::string_literals;

TEST(SysfsMultiStringTest, IdentifiersWindowsCouldNotHaveAreLeftOut) {
  auto list = std::make_shared<std::vector<devices::linux_sys::LinuxDevice>>(2);
  (*list)[0].hardware_ids = {
      "",          "PCI\\VEN_1", "", "PCI\\VEN_2\0junk"s, "ACPI\\A\r\nB", "ACPI\\\xC3\xA9",
      "ACPI\\A,B", "PCI\\VEN_3"};
  (*list)[0].description = "Dev\r\nice\0junk"s;
  (*list)[1].hardware_ids = {"", "\0x"s};
  devices::linux_sys::SysfsDeviceApi api(list);
  fakes::FakeDeviceUi ui;
  const devices::DeviceSet set = api.GetClassDevs(devices::kDigcfPresent);
  devices::DeviceInfoData d;
  ASSERT_TRUE(api.EnumDeviceInfo(set, 0, &d));
  EXPECT_EQ(modDeviceManagerAPI::GetDeviceProperty(api, set, d, devices::kSpdrpHardwareId, ui),
            L"PCI\\VEN_1\0PCI\\VEN_3\0"s);
  EXPECT_EQ(modDeviceManagerAPI::GetDeviceProperty(api, set, d, devices::kSpdrpDeviceDesc, ui),
            L"Dev  ice");
  // Nothing left: the device has no such property.
  ASSERT_TRUE(api.EnumDeviceInfo(set, 1, &d));
  EXPECT_EQ(modDeviceManagerAPI::GetDeviceProperty(api, set, d, devices::kSpdrpHardwareId, ui),
            L"");
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace

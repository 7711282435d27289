#include <gtest/gtest.h>

#include "devices/linux/hardware_ids.h"
#include "devices/linux/module_catalog.h"

namespace {

using namespace devices::linux_ids;

TEST(LinuxIdsTest, PciIdentifiersInWindowsOrder) {
  PciIds p{0x8086, 0x12ef, 0x1028, 0x0a5b, 0x010601, 0x02};
  EXPECT_EQ(PciHardwareIds(p), (std::vector<std::string>{
                                   "PCI\\VEN_8086&DEV_12EF&SUBSYS_0A5B1028&REV_02",
                                   "PCI\\VEN_8086&DEV_12EF&SUBSYS_0A5B1028",
                                   "PCI\\VEN_8086&DEV_12EF&CC_010601",
                                   "PCI\\VEN_8086&DEV_12EF&CC_0106",
                               }));
  EXPECT_EQ(PciCompatibleIds(p), (std::vector<std::string>{
                                     "PCI\\VEN_8086&DEV_12EF&REV_02",
                                     "PCI\\VEN_8086&DEV_12EF",
                                     "PCI\\VEN_8086&CC_010601",
                                     "PCI\\VEN_8086&CC_0106",
                                     "PCI\\VEN_8086",
                                     "PCI\\CC_010601",
                                     "PCI\\CC_0106",
                                 }));
}

TEST(LinuxIdsTest, UsbCompositeRules) {
  UsbDeviceIds zero{0x046d, 0xc52b, 0x1201, 0, 0, 0};
  UsbDeviceIds iad{0x046d, 0xc52b, 0x1201, 0xEF, 0x02, 0x01};
  UsbDeviceIds hub{0x05e3, 0x0608, 0x6060, 0x09, 0x00, 0x01};
  EXPECT_TRUE(IsUsbComposite(zero, 2, 1));
  EXPECT_TRUE(IsUsbComposite(iad, 3, 1));
  EXPECT_FALSE(IsUsbComposite(zero, 1, 1));
  EXPECT_FALSE(IsUsbComposite(zero, 2, 2));
  EXPECT_FALSE(IsUsbComposite(hub, 2, 1));
  EXPECT_EQ(UsbCompositeCompatibleIds(iad),
            (std::vector<std::string>{"USB\\DevClass_EF&SubClass_02&Prot_01",
                                      "USB\\DevClass_EF&SubClass_02", "USB\\DevClass_EF",
                                      "USB\\COMPOSITE"}));
  // A device with a class of its own keeps it; class 0 borrows the interface's.
  UsbInterfaceIds hid{0, 0x03, 0x01, 0x02};
  EXPECT_EQ(UsbDeviceCompatibleIds(hub, &hid)[0], "USB\\Class_09&SubClass_00&Prot_01");
  EXPECT_EQ(UsbDeviceCompatibleIds(zero, &hid)[2], "USB\\Class_03");
  EXPECT_EQ(UsbRootHubHardwareIds(3, nullptr), (std::vector<std::string>{"USB\\ROOT_HUB30"}));
  EXPECT_EQ(UsbRootHubHardwareIds(1, nullptr), (std::vector<std::string>{"USB\\ROOT_HUB"}));
}

TEST(LinuxIdsTest, ModuleAliasesBecomeWindowsMatchingIds) {
  EXPECT_EQ(AliasToWindowsId("pci:v00008086d000010D3sv*sd*bc*sc*i*"), "pci\\ven_8086&dev_10d3");
  EXPECT_EQ(AliasToWindowsId("pci:v00008086d000010D3sv00001028sd00000001bc*sc*i*"),
            "pci\\ven_8086&dev_10d3&subsys_00011028");
  EXPECT_EQ(AliasToWindowsId("pci:v*d*sv*sd*bc01sc06i01*"), "pci\\cc_010601");
  EXPECT_EQ(AliasToWindowsId("pci:v*d*sv*sd*bc0Csc03i*"), "pci\\cc_0c03");
  EXPECT_EQ(AliasToWindowsId("pci:v00001002d*sv*sd*bc03sc*i*"), "pci\\ven_1002");
  EXPECT_EQ(AliasToWindowsId("pci:v*d*sv*sd*bc03sc*i*"), "");
  EXPECT_EQ(AliasToWindowsId("usb:v1D6Bp0002d*dc*dsc*dp*ic*isc*ip*in*"), "usb\\vid_1d6b&pid_0002");
  EXPECT_EQ(AliasToWindowsId("usb:v046DpC52Bd*dc*dsc*dp*ic*isc*ip*in01*", true),
            "usb\\vid_046d&pid_c52b&mi_01");
  EXPECT_EQ(AliasToWindowsId("usb:v0781p5567d0[0-1]*dc*dsc*dp*ic*isc*ip*in*"),
            "usb\\vid_0781&pid_5567");
  EXPECT_EQ(AliasToWindowsId("usb:v*p*d*dc*dsc*dp*ic08isc06ip50in*"),
            "usb\\class_08&subclass_06&prot_50");
  EXPECT_EQ(AliasToWindowsId("usb:v*p*d*dc09dsc*dp*ic*isc*ip*in*"), "usb\\class_09");
  EXPECT_EQ(AliasToWindowsId("acpi*:PNP0C0C:*"), "*pnp0c0c");
  EXPECT_EQ(AliasToWindowsId("acpi*:ACPI0003:*"), "acpi\\acpi0003");
  EXPECT_EQ(AliasToWindowsId("acpi*:PNP0C0*:*"), "");
  EXPECT_EQ(AliasToWindowsId("of:N*T*Cnvidia,tegra"), "");
  EXPECT_EQ(AliasToWindowsId("pci:"), "");
}

TEST(LinuxIdsTest, KernelDatesAndAuthors) {
  using devices::linux_sys::CleanAuthor;
  using devices::linux_sys::KernelBuildDate;
  EXPECT_EQ(KernelBuildDate("#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1 (2023-09-29)"), "9-29-2023");
  EXPECT_EQ(KernelBuildDate("#14~22.04.1-Ubuntu SMP PREEMPT_DYNAMIC Thu Oct  5 21:02:42 UTC 2023"),
            "10-5-2023");
  EXPECT_EQ(KernelBuildDate("#1 SMP PREEMPT_DYNAMIC @1700000000"), "11-14-2023");
  EXPECT_EQ(KernelBuildDate("#1 SMP PREEMPT_DYNAMIC @0"), "");
  EXPECT_EQ(KernelBuildDate(""), "");
  EXPECT_EQ(CleanAuthor("Intel Corporation, <linux.nics@intel.com>"), "Intel Corporation");
  EXPECT_EQ(CleanAuthor("  Jiri Kosina "), "Jiri Kosina");
  EXPECT_EQ(CleanAuthor("Vendor\r\ndriver_9=x"), "Vendor  driver_9=x");  // never a line of its own
}

}  // namespace

// The Linux device records against a fixture system
// (tests/data/devices/sysroot, made by make-sysroot.sh there) and this
// machine's own /sys.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "devices/driver_list.h"
#include "devices/linux/device_records.h"
#include "devices/linux/sysfs_inventory.h"

namespace {

namespace fs = std::filesystem;
using devices::linux_sys::LinuxDevice;
using devices::linux_sys::ScanDevices;
using Ids = std::vector<std::string>;

constexpr char kSystem[] = "{4D36E97D-E325-11CE-BFC1-08002BE10318}";
constexpr char kUsb[] = "{36FC9E60-C465-11CF-8056-444553540000}";
// The driver list the report carries for these devices.
std::wstring DriverListOf(const std::vector<LinuxDevice>& found) {
  std::vector<devices::DeviceRecord> records;
  for (const LinuxDevice& d : found) records.push_back(devices::linux_sys::ToDeviceRecord(d));
  return devices::FormatDriverList(records);
}

constexpr char kHid[] = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";

// A private copy of the fixture: git keeps no file times, and the
// out-of-tree module's date comes from its file.
class FixtureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ =
        new fs::path(fs::temp_directory_path() / ("kestrova-devices-" + std::to_string(getpid())));
    fs::remove_all(*root_);
    fs::copy(fs::path(KESTROVA_TEST_DATA) / "devices" / "sysroot", *root_,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const std::chrono::sys_seconds feb3 =
        std::chrono::sys_days{std::chrono::year{2024} / 2 / 3} + std::chrono::hours{12};
    fs::last_write_time(*root_ / "lib/modules/6.1.0-kestrova/updates/dkms/e1000e.ko",
                        std::chrono::file_clock::from_sys(feb3));
    devices_ = new std::vector<LinuxDevice>(ScanDevices(*root_));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*root_);
    delete root_;
    delete devices_;
  }
  static const LinuxDevice& Find(const std::string& first_hardware_id) {
    for (const LinuxDevice& d : *devices_) {
      if (!d.hardware_ids.empty() && d.hardware_ids[0] == first_hardware_id) return d;
    }
    throw std::runtime_error("no device " + first_hardware_id);
  }
  static fs::path* root_;
  static std::vector<LinuxDevice>* devices_;
};
fs::path* FixtureTest::root_ = nullptr;
std::vector<LinuxDevice>* FixtureTest::devices_ = nullptr;

TEST_F(FixtureTest, EveryBusIsListedAndLinuxOwnObjectsAreNot) {
  std::vector<std::string> where;
  for (const LinuxDevice& d : *devices_) where.push_back(d.sysfs_name);
  EXPECT_EQ(where,
            (std::vector<std::string>{"pci/0000:00:02.0", "pci/0000:00:14.0", "pci/0000:00:1f.3",
                                      "pci/0000:03:00.0", "pci/0000:05:00.0", "usb/usb1", "usb/1-1",
                                      "usb/1-1:1.0", "usb/1-1:1.1", "usb/1-2", "acpi/PNP0303:00",
                                      "acpi/PNP0A08:00", "acpi/PNP0C0C:00"}));
}

TEST_F(FixtureTest, PciDevicesWithAndWithoutADriver) {
  const LinuxDevice& nic = Find("PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00");
  EXPECT_EQ(nic.description, "Ethernet Connection (2) I219-V");
  EXPECT_EQ(nic.compatible_ids[0], "PCI\\VEN_8086&DEV_15B8&REV_00");
  EXPECT_EQ(nic.class_name, "Net");
  EXPECT_EQ(nic.driver_key, "{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000");
  EXPECT_EQ(nic.problem, 0u);
  EXPECT_EQ(nic.driver.version, "3.8.7-NAPI");
  EXPECT_EQ(nic.driver.provider, "Intel Corporation");  // out of tree: its author
  EXPECT_EQ(nic.driver.date, "2-3-2024");               // its file
  EXPECT_EQ(nic.driver.inf_path, "e1000e.ko");
  EXPECT_EQ(nic.driver.matching_id, "pci\\ven_8086&dev_15b8");

  const LinuxDevice& xhci = Find("PCI\\VEN_8086&DEV_A36D&SUBSYS_085A1028&REV_10");
  EXPECT_EQ(xhci.hardware_ids,
            (Ids{"PCI\\VEN_8086&DEV_A36D&SUBSYS_085A1028&REV_10",
                 "PCI\\VEN_8086&DEV_A36D&SUBSYS_085A1028", "PCI\\VEN_8086&DEV_A36D&CC_0C0330",
                 "PCI\\VEN_8086&DEV_A36D&CC_0C03"}));
  EXPECT_EQ(xhci.class_name, "USB");
  EXPECT_EQ(xhci.driver.version, "0.96");  // sysfs knows it, the module doesn't say
  EXPECT_EQ(xhci.driver.provider, "Linux");
  EXPECT_EQ(xhci.driver.date, "9-29-2023");  // in-tree: the kernel's build
  EXPECT_EQ(xhci.driver.inf_path, "xhci-pci.ko");
  EXPECT_EQ(xhci.driver.matching_id, "pci\\cc_0c0330");

  const LinuxDevice& audio = Find("PCI\\VEN_8086&DEV_A348&SUBSYS_085A1028&REV_10");
  EXPECT_EQ(audio.description, "Multimedia Audio Controller");
  EXPECT_EQ(audio.problem, 28u);
  EXPECT_EQ(audio.driver_key, "");
  EXPECT_EQ(audio.class_name, "");
}

TEST_F(FixtureTest, UsbCompositeSingleInterfaceAndRootHub) {
  const LinuxDevice& receiver = Find("USB\\VID_046D&PID_C52B&REV_1201");
  EXPECT_EQ(receiver.hardware_ids,
            (Ids{"USB\\VID_046D&PID_C52B&REV_1201", "USB\\VID_046D&PID_C52B"}));
  EXPECT_EQ(receiver.compatible_ids,
            (Ids{"USB\\DevClass_00&SubClass_00&Prot_00", "USB\\DevClass_00&SubClass_00",
                 "USB\\DevClass_00", "USB\\COMPOSITE"}));
  EXPECT_EQ(receiver.description, "USB Composite Device");  // as Windows names it
  EXPECT_EQ(receiver.driver.matching_id, "usb\\composite");
  EXPECT_EQ(receiver.driver.inf_path, "usbcore.ko");

  const LinuxDevice& mi0 = Find("USB\\VID_046D&PID_C52B&REV_1201&MI_00");
  EXPECT_EQ(mi0.hardware_ids,
            (Ids{"USB\\VID_046D&PID_C52B&REV_1201&MI_00", "USB\\VID_046D&PID_C52B&MI_00"}));
  EXPECT_EQ(mi0.compatible_ids, (Ids{"USB\\Class_03&SubClass_01&Prot_01",
                                     "USB\\Class_03&SubClass_01", "USB\\Class_03"}));
  EXPECT_EQ(mi0.class_name, "HIDClass");
  EXPECT_EQ(mi0.driver_key, std::string(kHid) + "\\0000");
  EXPECT_EQ(mi0.driver.matching_id, "usb\\class_03");
  const LinuxDevice& mi1 = Find("USB\\VID_046D&PID_C52B&REV_1201&MI_01");
  EXPECT_EQ(mi1.problem, 28u);
  EXPECT_EQ(mi1.compatible_ids[0], "USB\\Class_03&SubClass_01&Prot_02");

  const LinuxDevice& stick = Find("USB\\VID_0781&PID_5567&REV_0100");
  EXPECT_EQ(stick.description, "Cl\xC3\xA9 USB");  // its own name, not in the database
  EXPECT_EQ(stick.compatible_ids, (Ids{"USB\\Class_08&SubClass_06&Prot_50",
                                       "USB\\Class_08&SubClass_06", "USB\\Class_08"}));
  EXPECT_EQ(stick.driver.inf_path, "usb-storage.ko");
  EXPECT_EQ(stick.driver.matching_id, "usb\\vid_0781&pid_5567&rev_0100");

  const LinuxDevice& hub = Find("USB\\ROOT_HUB20&VID8086&PIDA36D&REV0010");
  EXPECT_EQ(hub.hardware_ids, (Ids{"USB\\ROOT_HUB20&VID8086&PIDA36D&REV0010",
                                   "USB\\ROOT_HUB20&VID8086&PIDA36D", "USB\\ROOT_HUB20"}));
  EXPECT_TRUE(hub.compatible_ids.empty());
  EXPECT_EQ(hub.driver.matching_id, "usb\\root_hub20");
  // Driver keys count per class, in listing order.
  EXPECT_EQ(hub.driver_key, std::string(kUsb) + "\\0001");
  EXPECT_EQ(receiver.driver_key, std::string(kUsb) + "\\0002");
  EXPECT_EQ(stick.driver_key, std::string(kUsb) + "\\0003");
}

TEST_F(FixtureTest, AcpiDevices) {
  const LinuxDevice& button = Find("ACPI\\PNP0C0C");
  EXPECT_EQ(button.hardware_ids, (Ids{"ACPI\\PNP0C0C", "*PNP0C0C"}));
  EXPECT_TRUE(button.compatible_ids.empty());
  EXPECT_EQ(button.driver_key, std::string(kSystem) + "\\0001");
  EXPECT_EQ(button.driver.inf_path, "button.ko");  // built in, named by modules.builtin
  EXPECT_EQ(button.driver.matching_id, "*pnp0c0c");

  const LinuxDevice& keyboard = Find("ACPI\\PNP0303");
  EXPECT_EQ(keyboard.compatible_ids, (Ids{"ACPI\\PNP030B", "*PNP030B"}));
  EXPECT_EQ(keyboard.class_name, "Keyboard");  // driven through its pnp device
  EXPECT_EQ(keyboard.driver.inf_path, "i8042.ko");

  // The PCI root: served by the kernel's ACPI core, no driver bound.
  const LinuxDevice& root = Find("ACPI\\PNP0A08");
  EXPECT_EQ(root.compatible_ids, (Ids{"ACPI\\PNP0A03", "*PNP0A03"}));
  EXPECT_EQ(root.problem, 0u);
  EXPECT_EQ(root.class_name, "System");
  EXPECT_EQ(root.driver_key, std::string(kSystem) + "\\0000");
  EXPECT_EQ(root.driver.provider, "Linux");
  EXPECT_EQ(root.driver.version, "6.1.0-kestrova");
  EXPECT_EQ(root.driver.date, "9-29-2023");
  EXPECT_EQ(root.driver.inf_path, "kernel");
  EXPECT_EQ(root.driver.matching_id, "*pnp0a08");
}

TEST_F(FixtureTest, DriverFactsReachTheDeviceRecord) {
  const devices::DeviceRecord nic =
      devices::linux_sys::ToDeviceRecord(Find("PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00"));
  EXPECT_EQ(nic.version, L"3.8.7-NAPI");
  EXPECT_EQ(nic.date, L"2-3-2024");
  EXPECT_EQ(nic.provider, L"Intel Corporation");
  EXPECT_EQ(nic.inf_path, L"e1000e.ko");
  EXPECT_EQ(nic.matching_id, L"pci\\ven_8086&dev_15b8");
  EXPECT_EQ(nic.driver_key, L"{4D36E972-E325-11CE-BFC1-08002BE10318}\\0000");
  EXPECT_EQ(nic.device_id, L"PCI\\VEN_8086&DEV_15B8&SUBSYS_085A1028&REV_00");

  // Without a driver: no facts at all.
  for (const LinuxDevice& d : *devices_) {
    if (!d.driver_key.empty()) continue;
    const devices::DeviceRecord r = devices::linux_sys::ToDeviceRecord(d);
    EXPECT_EQ(r.version + r.date + r.provider + r.inf_path + r.matching_id + r.driver_key, L"")
        << d.sysfs_name;
    EXPECT_EQ(r.problem, devices::kProblemDriverNotInstalled) << d.sysfs_name;
  }

  // The USB class numbers its four drivers' keys from 0000.
  std::vector<std::string> usb_keys;
  for (const LinuxDevice& d : *devices_) {
    if (d.class_guid == kUsb) usb_keys.push_back(d.driver_key.substr(d.driver_key.find('\\') + 1));
  }
  std::sort(usb_keys.begin(), usb_keys.end());
  EXPECT_EQ(usb_keys, (std::vector<std::string>{"0000", "0001", "0002", "0003"}));
}

TEST_F(FixtureTest, TheDriverListOfTheFixture) {
  const std::wstring list = DriverListOf(*devices_);
  EXPECT_NE(
      list.find(L"\r\ndriver_9=USB Input Device[;][;][;][;]"
                L"USB\\VID_046D&PID_C52B&REV_1201&MI_01,"
                L"[;]USB\\VID_046D&PID_C52B&REV_1201&MI_01,\\[;][;]"
                L"[;]USB\\VID_046D&PID_C52B&REV_1201&MI_01,USB\\VID_046D&PID_C52B&MI_01,"
                L"[;]USB\\Class_03&SubClass_01&Prot_02,USB\\Class_03&SubClass_01,USB\\Class_03,"
                L"[;][;]28\r\ndriver_10=Cl\u00E9 USB[;]6.1.0-kestrova[;]Linux[;]9-29-2023"
                L"[;]USB\\VID_0781&PID_5567&REV_0100,"
                L"[;]USB\\VID_0781&PID_5567&REV_0100,\\{36FC9E60-C465-11CF-8056-444553540000}\\0003"
                L"[;]USB[;]usb-storage.ko[;]USB\\VID_0781&PID_5567&REV_0100,USB\\VID_0781&PID_5567,"
                L"[;]USB\\Class_08&SubClass_06&Prot_50,USB\\Class_08&SubClass_06,USB\\Class_08,"
                L"[;]usb\\vid_0781&pid_5567&rev_0100[;]0\r\n"),
      std::wstring::npos);
  EXPECT_EQ(list.substr(list.size() - 18), L"[;][;]*pnp0c0c[;]0");
  EXPECT_EQ(list.find(L"driver_14"), std::wstring::npos);
}

TEST(SysfsDevicesTest, AMissingRootGivesNoDevices) {
  EXPECT_TRUE(ScanDevices("/nonexistent/kestrova-root").empty());
}

// This machine: only what must hold anywhere.
TEST(SysfsDevicesTest, ThisMachinesDevices) {
  const std::vector<LinuxDevice> found = ScanDevices("/");
  if (found.empty()) GTEST_SKIP() << "no PCI, USB or ACPI devices visible here";
  bool any_bound = false;
  for (const LinuxDevice& d : found) {
    EXPECT_FALSE(d.hardware_ids.empty()) << d.sysfs_name;
    EXPECT_FALSE(d.description.empty()) << d.sysfs_name;
    EXPECT_TRUE(d.problem == 0 || d.problem == 28) << d.sysfs_name;
    EXPECT_EQ(d.driver_key.empty(), d.problem == 28) << d.sysfs_name;
    if (d.problem == 0) {
      any_bound = true;
      EXPECT_FALSE(d.driver.inf_path.empty()) << d.sysfs_name;
      EXPECT_FALSE(d.driver.version.empty()) << d.sysfs_name;
    }
  }
  const std::wstring list = DriverListOf(found);
  EXPECT_EQ(list.empty(), !any_bound);
  // The inventory the scan uses lists the same devices.
  devices::linux_sys::SysfsInventory inventory("/");
  EXPECT_EQ(inventory.ListDevices().size(), found.size());
}

}  // namespace

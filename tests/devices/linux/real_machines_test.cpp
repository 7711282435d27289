// The Linux device set against fixture trees modelled on real machines
// (tests/data/devices/machines/laptop and desktop, see the README
// there), and small trees for what configuration space supplies.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

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
constexpr char kHid[] = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";

class Machine {
 public:
  explicit Machine(const std::string& tree)
      : devices_(ScanDevices(fs::path(KESTROVA_TEST_DATA) / "devices" / tree)) {
    for (const LinuxDevice& d : devices_) by_name_[d.sysfs_name] = &d;
  }
  const LinuxDevice& operator[](const std::string& sysfs_name) const {
    auto it = by_name_.find(sysfs_name);
    if (it == by_name_.end()) throw std::runtime_error("no device " + sysfs_name);
    return *it->second;
  }
  std::set<std::string> Flagged() const {
    std::set<std::string> out;
    for (const LinuxDevice& d : devices_) {
      if (d.problem != 0) out.insert(d.sysfs_name);
    }
    return out;
  }
  const std::vector<LinuxDevice>& all() const { return devices_; }

 private:
  std::vector<LinuxDevice> devices_;
  std::map<std::string, const LinuxDevice*> by_name_;
};

// A device the kernel core serves: a working system device.
void ExpectKernelServed(const LinuxDevice& d, const std::string& release, const std::string& date,
                        const std::string& matching_id, const std::string& description) {
  SCOPED_TRACE(d.sysfs_name);
  EXPECT_EQ(d.problem, 0u);
  EXPECT_EQ(d.class_name, "System");
  EXPECT_EQ(d.class_guid, kSystem);
  EXPECT_EQ(d.driver.provider, "Linux");
  EXPECT_EQ(d.driver.version, release);
  EXPECT_EQ(d.driver.date, date);
  EXPECT_EQ(d.driver.inf_path, "kernel");
  EXPECT_EQ(d.driver.matching_id, matching_id);
  EXPECT_EQ(d.description, description);
}

class LaptopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { laptop_ = new Machine("machines/laptop"); }
  static void TearDownTestSuite() { delete laptop_; }
  static Machine* laptop_;
};
Machine* LaptopTest::laptop_ = nullptr;

TEST_F(LaptopTest, OnlyTheDevicesWithoutADriverAreFlagged) {
  const Machine& m = *laptop_;
  EXPECT_EQ(m.Flagged(), (std::set<std::string>{"pci/0000:00:02.0", "pci/0000:00:02.1",
                                                "pci/0000:00:1f.3", "pci/0000:00:1f.6"}));
  EXPECT_EQ(m["pci/0000:00:02.0"].problem, 28u);
  EXPECT_EQ(m["pci/0000:00:02.0"].class_name, "");
  EXPECT_EQ(m["pci/0000:00:02.0"].driver_key, "");
  EXPECT_EQ(m.all().size(), 33u);

  // Through the driver list as the report gets it: four devices with 28.
  std::vector<devices::DeviceRecord> records;
  for (const LinuxDevice& d : m.all()) records.push_back(devices::linux_sys::ToDeviceRecord(d));
  const std::wstring list = devices::FormatDriverList(records);
  size_t flagged = 0;
  for (size_t at = list.find(L"[;]28\r\n"); at != std::wstring::npos;
       at = list.find(L"[;]28\r\n", at + 1)) {
    ++flagged;
  }
  EXPECT_EQ(flagged, 4u);
  EXPECT_NE(list.find(L"[;]PCI\\VEN_8086&DEV_2448&SUBSYS_00000000&REV_93,"), std::wstring::npos);
}

TEST_F(LaptopTest, RevisionsComeFromConfigurationSpace) {
  const Machine& m = *laptop_;
  EXPECT_EQ(m["pci/0000:00:02.0"].hardware_ids,
            (Ids{"PCI\\VEN_8086&DEV_2A42&SUBSYS_360B103C&REV_07",
                 "PCI\\VEN_8086&DEV_2A42&SUBSYS_360B103C", "PCI\\VEN_8086&DEV_2A42&CC_030000",
                 "PCI\\VEN_8086&DEV_2A42&CC_0300"}));
  EXPECT_EQ(
      m["pci/0000:00:02.0"].compatible_ids,
      (Ids{"PCI\\VEN_8086&DEV_2A42&REV_07", "PCI\\VEN_8086&DEV_2A42", "PCI\\VEN_8086&CC_030000",
           "PCI\\VEN_8086&CC_0300", "PCI\\VEN_8086", "PCI\\CC_030000", "PCI\\CC_0300"}));
  EXPECT_EQ(m["pci/0000:00:1e.0"].hardware_ids[0], "PCI\\VEN_8086&DEV_2448&SUBSYS_00000000&REV_93");
  EXPECT_EQ(m["pci/0000:02:00.0"].hardware_ids[0], "PCI\\VEN_168C&DEV_001C&SUBSYS_137A103C&REV_01");
  EXPECT_EQ(m["pci/0000:01:00.0"].compatible_ids[0], "PCI\\VEN_10EC&DEV_8136&REV_02");

  // Root hubs carry their controller's revision; kernels of the time gave
  // them no vendor id of their own.
  EXPECT_EQ(m["usb/usb1"].hardware_ids, (Ids{"USB\\ROOT_HUB&VID8086&PID2934&REV0003",
                                             "USB\\ROOT_HUB&VID8086&PID2934", "USB\\ROOT_HUB"}));
  EXPECT_EQ(m["usb/usb2"].hardware_ids,
            (Ids{"USB\\ROOT_HUB20&VID8086&PID293A&REV0003", "USB\\ROOT_HUB20&VID8086&PID293A",
                 "USB\\ROOT_HUB20"}));
  EXPECT_EQ(m["usb/usb2"].driver.matching_id, "usb\\root_hub20");
}

TEST_F(LaptopTest, ChipsetBridgesAndAcpiSystemDevicesAreServedByTheKernel) {
  const Machine& m = *laptop_;
  const std::string rel = "2.6.24-19-generic", date = "8-20-2008";
  ExpectKernelServed(m["pci/0000:00:1e.0"], rel, date, "pci\\cc_060401",
                     "PCI standard PCI-to-PCI bridge");
  ExpectKernelServed(m["pci/0000:00:1f.0"], rel, date, "pci\\cc_0601", "PCI standard ISA bridge");
  ExpectKernelServed(m["acpi/PNP0A08:00"], rel, date, "*pnp0a08", "PCI Express Root Complex");
  ExpectKernelServed(m["acpi/PNP0000:00"], rel, date, "*pnp0000",
                     "Programmable interrupt controller");
  ExpectKernelServed(m["acpi/PNP0100:00"], rel, date, "*pnp0100", "System timer");
  ExpectKernelServed(m["acpi/PNP0103:00"], rel, date, "*pnp0103", "High precision event timer");
  ExpectKernelServed(m["acpi/PNP0200:00"], rel, date, "*pnp0200",
                     "Direct memory access controller");
  ExpectKernelServed(m["acpi/PNP0800:00"], rel, date, "*pnp0800", "System speaker");
  ExpectKernelServed(m["acpi/PNP0C04:00"], rel, date, "*pnp0c04", "Numeric data processor");

  // Bound devices keep their drivers: the host bridge its AGP driver, the
  // PCI Express ports the port driver, the CMOS clock its PNP driver.
  EXPECT_EQ(m["pci/0000:00:00.0"].driver.inf_path, "intel_agp_ich9m.ko");
  EXPECT_EQ(m["pci/0000:00:1c.0"].driver.inf_path, "pcieport_driver.ko");
  EXPECT_EQ(m["acpi/PNP0B00:00"].driver.inf_path, "rtc_cmos.ko");
  // Driver keys count on through the System class in listing order.
  EXPECT_EQ(m["pci/0000:00:1e.0"].driver_key, std::string(kSystem) + "\\0003");
  EXPECT_EQ(m["acpi/PNP0000:00"].driver_key, std::string(kSystem) + "\\0005");
}

TEST_F(LaptopTest, AcpiDevicesTakeTheirClassFromAKnownCompatibleId) {
  const LinuxDevice& touchpad = (*laptop_)["acpi/SYN1E03:00"];
  EXPECT_EQ(touchpad.hardware_ids, (Ids{"ACPI\\SYN1E03", "*SYN1E03"}));
  EXPECT_EQ(touchpad.compatible_ids, (Ids{"ACPI\\SYN0100", "*SYN0100", "ACPI\\SYN0002", "*SYN0002",
                                          "ACPI\\PNP0F13", "*PNP0F13"}));
  EXPECT_EQ(touchpad.class_name, "Mouse");
  EXPECT_EQ(touchpad.description, "PS/2 Compatible Mouse");
  EXPECT_EQ(touchpad.driver.inf_path, "i8042.ko");
}

class DesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { desktop_ = new Machine("machines/desktop"); }
  static void TearDownTestSuite() { delete desktop_; }
  static Machine* desktop_;
};
Machine* DesktopTest::desktop_ = nullptr;

TEST_F(DesktopTest, ListedInOrderAndOnlyTheReservedFunctionIsFlagged) {
  std::vector<std::string> where;
  for (const LinuxDevice& d : desktop_->all()) where.push_back(d.sysfs_name);
  EXPECT_EQ(where,
            (std::vector<std::string>{
                "pci/0000:00:00.0", "pci/0000:00:01.0", "pci/0000:00:01.1", "pci/0000:00:14.0",
                "pci/0000:00:14.3", "pci/0000:00:18.3", "pci/0000:01:00.0", "pci/0000:26:00.0",
                "pci/0000:2a:00.0", "pci/0000:2a:00.3", "pci/0000:2f:00.4", "usb/usb3",
                "usb/usb4",         "usb/3-2",          "usb/3-2:1.0",      "usb/3-2:1.1",
                "usb/3-2:1.2",      "usb/3-4",          "acpi/PNP0800:00",  "acpi/PNP0A08:00",
                "acpi/PNP0C02:00",  "acpi/PNP0C0C:00"}));
  EXPECT_EQ(desktop_->Flagged(), std::set<std::string>{"pci/0000:2a:00.0"});
  EXPECT_EQ((*desktop_)["pci/0000:2a:00.0"].hardware_ids[0],
            "PCI\\VEN_1022&DEV_1485&SUBSYS_7C351462&REV_00");

  const Machine& m = *desktop_;
  const std::string rel = "5.4.0-47-generic", date = "9-4-2020";
  ExpectKernelServed(m["pci/0000:00:00.0"], rel, date, "pci\\cc_0600",
                     "PCI standard host CPU bridge");
  ExpectKernelServed(m["pci/0000:00:01.0"], rel, date, "pci\\cc_0600",
                     "PCI standard host CPU bridge");
  ExpectKernelServed(m["pci/0000:00:14.3"], rel, date, "pci\\cc_0601", "PCI standard ISA bridge");
  ExpectKernelServed(m["acpi/PNP0A08:00"], rel, date, "*pnp0a08", "PCI Express Root Complex");
  // A host bridge function with a driver is that driver's.
  EXPECT_EQ(m["pci/0000:00:18.3"].driver.inf_path, "k10temp.ko");
  EXPECT_EQ(m["pci/0000:00:18.3"].driver.matching_id, "");
}

TEST_F(DesktopTest, NvmeAndXhciWithTheirRootHubs) {
  const Machine& m = *desktop_;
  const LinuxDevice& nvme = m["pci/0000:01:00.0"];
  EXPECT_EQ(nvme.hardware_ids,
            (Ids{"PCI\\VEN_144D&DEV_A808&SUBSYS_A801144D&REV_00",
                 "PCI\\VEN_144D&DEV_A808&SUBSYS_A801144D", "PCI\\VEN_144D&DEV_A808&CC_010802",
                 "PCI\\VEN_144D&DEV_A808&CC_0108"}));
  EXPECT_EQ(nvme.class_name, "SCSIAdapter");
  EXPECT_EQ(nvme.description, "Standard NVM Express Controller");
  EXPECT_EQ(nvme.driver.inf_path, "nvme.ko");

  const LinuxDevice& xhci = m["pci/0000:2a:00.3"];
  EXPECT_EQ(xhci.hardware_ids[0], "PCI\\VEN_1022&DEV_149C&SUBSYS_148C1022&REV_00");
  EXPECT_EQ(xhci.class_name, "USB");
  EXPECT_EQ(m["pci/0000:00:14.0"].hardware_ids[0], "PCI\\VEN_1022&DEV_790B&SUBSYS_7C351462&REV_61");

  EXPECT_EQ(m["usb/usb3"].hardware_ids,
            (Ids{"USB\\ROOT_HUB20&VID1022&PID149C&REV0000", "USB\\ROOT_HUB20&VID1022&PID149C",
                 "USB\\ROOT_HUB20"}));
  EXPECT_EQ(m["usb/usb4"].hardware_ids,
            (Ids{"USB\\ROOT_HUB30&VID1022&PID149C&REV0000", "USB\\ROOT_HUB30&VID1022&PID149C",
                 "USB\\ROOT_HUB30"}));
  EXPECT_EQ(m["usb/usb4"].description, "USB Root Hub (USB 3.0)");
}

TEST_F(DesktopTest, TheCompositeReceiverIsAParentAndItsInterfaces) {
  const Machine& m = *desktop_;
  const LinuxDevice& parent = m["usb/3-2"];
  EXPECT_EQ(parent.description, "USB Composite Device");
  EXPECT_EQ(parent.hardware_ids,
            (Ids{"USB\\VID_046D&PID_C52B&REV_1210", "USB\\VID_046D&PID_C52B"}));
  EXPECT_EQ(parent.compatible_ids,
            (Ids{"USB\\DevClass_00&SubClass_00&Prot_00", "USB\\DevClass_00&SubClass_00",
                 "USB\\DevClass_00", "USB\\COMPOSITE"}));
  EXPECT_EQ(parent.class_name, "USB");
  EXPECT_EQ(parent.driver_key, std::string(kUsb) + "\\0003");
  EXPECT_EQ(parent.driver.matching_id, "usb\\composite");

  const struct {
    const char* name;
    const char* mi;
    const char* triple;
  } kInterfaces[] = {{"usb/3-2:1.0", "00", "03&SubClass_01&Prot_01"},
                     {"usb/3-2:1.1", "01", "03&SubClass_01&Prot_02"},
                     {"usb/3-2:1.2", "02", "03&SubClass_00&Prot_00"}};
  int n = 0;
  for (const auto& i : kInterfaces) {
    SCOPED_TRACE(i.name);
    const LinuxDevice& d = m[i.name];
    const std::string mi = i.mi, triple = i.triple;
    EXPECT_EQ(d.hardware_ids,
              (Ids{"USB\\VID_046D&PID_C52B&REV_1210&MI_" + mi, "USB\\VID_046D&PID_C52B&MI_" + mi}));
    EXPECT_EQ(d.compatible_ids,
              (Ids{"USB\\Class_" + triple, "USB\\Class_" + triple.substr(0, 14), "USB\\Class_03"}));
    EXPECT_EQ(d.class_name, "HIDClass");
    EXPECT_EQ(d.description, "USB Input Device");
    EXPECT_EQ(d.problem, 0u);
    EXPECT_EQ(d.driver_key, std::string(kHid) + "\\000" + std::to_string(n++));
    EXPECT_EQ(d.driver.inf_path, "usbhid.ko");
  }

  // A radio of class E0 with two interfaces stays one device.
  const LinuxDevice& bt = m["usb/3-4"];
  EXPECT_EQ(bt.hardware_ids, (Ids{"USB\\VID_8087&PID_0029&REV_0001", "USB\\VID_8087&PID_0029"}));
  EXPECT_EQ(bt.compatible_ids, (Ids{"USB\\Class_E0&SubClass_01&Prot_01",
                                    "USB\\Class_E0&SubClass_01", "USB\\Class_E0"}));
  EXPECT_EQ(bt.class_name, "Bluetooth");
  EXPECT_EQ(bt.driver.inf_path, "btusb.ko");
}

// Small trees written by the test: what configuration space supplies when
// attributes are missing, and bridges the kernel does not serve itself.
class ConfigSpaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kestrova-config-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    root_ = tmpl;
  }
  void TearDown() override { fs::remove_all(root_); }
  // A function with vendor, device and class attributes only, and `config`.
  fs::path Function(const std::string& bdf, const std::string& vendor, const std::string& device,
                    const std::string& cls, const std::string& config) {
    const fs::path d = root_ / "sys/bus/pci/devices" / bdf;
    fs::create_directories(d);
    std::ofstream(d / "vendor") << "0x" << vendor << "\n";
    std::ofstream(d / "device") << "0x" << device << "\n";
    std::ofstream(d / "class") << "0x" << cls << "\n";
    std::ofstream(d / "config", std::ios::binary) << config;
    return d;
  }
  static std::string Config(std::initializer_list<std::pair<size_t, unsigned char>> bytes,
                            size_t size) {
    std::string c(size, '\0');
    for (auto [at, v] : bytes) c[at] = static_cast<char>(v);
    return c;
  }
  fs::path root_;
};

TEST_F(ConfigSpaceTest, RevisionAndSubsystemFromConfigurationSpace) {
  // A device header: subsystem 17aa:2131 at 0x2C, revision 0x0c; 64 bytes
  // as a user reads it.
  Function("0000:00:19.0", "8086", "10ea", "020000",
           Config({{8, 0x0c},
                   {0x0E, 0x00},
                   {0x2C, 0xaa},
                   {0x2D, 0x17},
                   {0x2E, 0x31},
                   {0x2F, 0x21},
                   {0x3D, 0x01}},
                  64));
  // A bridge header: 0x2C is not a subsystem there; the subsystem
  // capability (0x0D) at 0x90 names 17aa:2132 (256 bytes, as root reads it).
  Function("0000:00:1c.0", "8086", "3b42", "060400",
           Config({{6, 0x10},
                   {8, 0x05},
                   {0x0E, 0x81},
                   {0x2C, 0x77},
                   {0x34, 0x40},
                   {0x40, 0x10},
                   {0x41, 0x90},
                   {0x90, 0x0D},
                   {0x91, 0x00},
                   {0x94, 0xaa},
                   {0x95, 0x17},
                   {0x96, 0x32},
                   {0x97, 0x21},
                   {0xFF, 0x01}},
                  256));
  // A bridge whose capability lies past what a user may read.
  Function("0000:00:1c.1", "8086", "3b44", "060400",
           Config({{6, 0x10}, {8, 0x06}, {0x0E, 0x01}, {0x34, 0x40}, {0x3D, 0x01}}, 64));
  // No readable configuration space at all.
  Function("0000:00:1d.0", "8086", "3b34", "0c0320", "");

  std::map<std::string, std::string> first;
  for (const LinuxDevice& d : ScanDevices(root_)) first[d.sysfs_name] = d.hardware_ids[0];
  EXPECT_EQ(first["pci/0000:00:19.0"], "PCI\\VEN_8086&DEV_10EA&SUBSYS_213117AA&REV_0C");
  EXPECT_EQ(first["pci/0000:00:1c.0"], "PCI\\VEN_8086&DEV_3B42&SUBSYS_213217AA&REV_05");
  EXPECT_EQ(first["pci/0000:00:1c.1"], "PCI\\VEN_8086&DEV_3B44&SUBSYS_00000000&REV_06");
  EXPECT_EQ(first["pci/0000:00:1d.0"], "PCI\\VEN_8086&DEV_3B34&SUBSYS_00000000&REV_00");
}

TEST_F(ConfigSpaceTest, AttributesComeBeforeConfigurationSpace) {
  const fs::path d = Function("0000:00:02.0", "8086", "0046", "030000",
                              Config({{8, 0x99}, {0x2C, 0x11}, {0x2D, 0x11}}, 64));
  std::ofstream(d / "revision") << "0x02\n";
  std::ofstream(d / "subsystem_vendor") << "0x17aa\n";
  std::ofstream(d / "subsystem_device") << "0x215a\n";
  EXPECT_EQ(ScanDevices(root_).at(0).hardware_ids[0],
            "PCI\\VEN_8086&DEV_0046&SUBSYS_215A17AA&REV_02");
}

TEST_F(ConfigSpaceTest, SocketBridgesWithoutTheirDriverNeedOne) {
  Function("0000:15:00.0", "1180", "0476", "060700", Config({{8, 0xba}}, 64));
  Function("0000:16:00.0", "8086", "1221", "060500", Config({{8, 0x02}}, 64));  // PCMCIA
  Function("0000:00:1e.0", "8086", "2448", "060401", Config({{8, 0xe2}}, 64));
  const auto found = ScanDevices(root_);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].sysfs_name, "pci/0000:00:1e.0");
  EXPECT_EQ(found[0].problem, 0u);
  EXPECT_EQ(found[1].problem, 28u);
  EXPECT_EQ(found[1].hardware_ids[0], "PCI\\VEN_1180&DEV_0476&SUBSYS_00000000&REV_BA");
  EXPECT_EQ(found[2].problem, 28u);
}

TEST_F(ConfigSpaceTest, AnAcpiDeviceServedThroughItsCompatibleId) {
  const fs::path d = root_ / "sys/bus/acpi/devices/INT3F0D:00";
  fs::create_directories(d);
  std::ofstream(d / "hid") << "INT3F0D\n";
  std::ofstream(d / "modalias") << "acpi:INT3F0D:PNP0C02:\n";
  const auto found = ScanDevices(root_);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].problem, 0u);
  EXPECT_EQ(found[0].description, "Motherboard resources");
  EXPECT_EQ(found[0].driver.matching_id, "*pnp0c02");
  EXPECT_EQ(found[0].compatible_ids, (Ids{"ACPI\\PNP0C02", "*PNP0C02"}));
}

}  // namespace

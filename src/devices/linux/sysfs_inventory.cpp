#include "devices/linux/sysfs_inventory.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>

#include "devices/device_inventory.h"
#include "devices/linux/hardware_ids.h"
#include "devices/linux/id_names.h"
#include "devices/linux/kernel_served.h"
#include "devices/linux/sysroot.h"
#include "platform/linux/small_file.h"

namespace devices::linux_sys {
namespace fs = std::filesystem;
using linux_ids::PciIds;
using linux_ids::UsbDeviceIds;
using linux_ids::UsbInterfaceIds;

namespace {

// Windows setup classes and their GUIDs.
const std::map<std::string, std::string>& ClassGuids() {
  static const std::map<std::string, std::string> kGuids = {
      {"1394", "{6BDD1FC1-810F-11D0-BEC7-08002BE2092F}"},
      {"Battery", "{72631E54-78A4-11D0-BCF7-00AA00B7B32A}"},
      {"Bluetooth", "{E0CBF06C-CD8B-4647-BB8A-263B43F0F974}"},
      {"Camera", "{CA3E7AB9-B4C3-4AE6-8251-579EF933890F}"},
      {"Display", "{4D36E968-E325-11CE-BFC1-08002BE10318}"},
      {"HDC", "{4D36E96A-E325-11CE-BFC1-08002BE10318}"},
      {"HIDClass", "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"},
      {"Image", "{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}"},
      {"Keyboard", "{4D36E96B-E325-11CE-BFC1-08002BE10318}"},
      {"MEDIA", "{4D36E96C-E325-11CE-BFC1-08002BE10318}"},
      {"Modem", "{4D36E96D-E325-11CE-BFC1-08002BE10318}"},
      {"Mouse", "{4D36E96F-E325-11CE-BFC1-08002BE10318}"},
      {"Net", "{4D36E972-E325-11CE-BFC1-08002BE10318}"},
      {"Ports", "{4D36E978-E325-11CE-BFC1-08002BE10318}"},
      {"Processor", "{50127DC3-0F36-415E-A6CC-4CB3BE910B65}"},
      {"SCSIAdapter", "{4D36E97B-E325-11CE-BFC1-08002BE10318}"},
      {"SDHost", "{A0A588A4-C46F-4B37-B7EA-C82FE89870C6}"},
      {"SmartCardReader", "{50DD5230-BA8A-11D1-BF5D-0000F805F530}"},
      {"System", "{4D36E97D-E325-11CE-BFC1-08002BE10318}"},
      {"USB", "{36FC9E60-C465-11CF-8056-444553540000}"},
  };
  return kGuids;
}

struct ClassAndName {
  const char* class_name;
  const char* generic_name;
};

ClassAndName PciClass(std::uint32_t class_code) {
  const unsigned base = class_code >> 16, sub = (class_code >> 8) & 0xFF;
  switch (base) {
    case 0x01:
      if (sub == 0x06 && (class_code & 0xFF) == 0x01) {
        return {"HDC", "Standard SATA AHCI Controller"};
      }
      if (sub == 0x01 || sub == 0x05 || sub == 0x06) return {"HDC", "Mass Storage Controller"};
      if (sub == 0x08 && (class_code & 0xFF) == 0x02) {
        return {"SCSIAdapter", "Standard NVM Express Controller"};
      }
      return {"SCSIAdapter", "Mass Storage Controller"};
    case 0x02:
      return {"Net", sub == 0x00 ? "Ethernet Controller" : "Network Controller"};
    case 0x03:
      return {"Display", "Video Controller"};
    case 0x04:
      return {"MEDIA",
              sub == 0x01 || sub == 0x03 ? "Multimedia Audio Controller" : "Multimedia Controller"};
    case 0x05:
      return {"System", "PCI Memory Controller"};
    case 0x06:
      if (sub == 0x00) return {"System", "PCI standard host CPU bridge"};
      if (sub == 0x01) return {"System", "PCI standard ISA bridge"};
      if (sub == 0x04) return {"System", "PCI standard PCI-to-PCI bridge"};
      return {"System", "PCI Bridge"};
    case 0x07:
      if (sub == 0x00) return {"Ports", "PCI Serial Port"};
      if (sub == 0x03) return {"Modem", "PCI Modem"};
      return {"System", "PCI Simple Communications Controller"};
    case 0x08:
      if (sub == 0x05) return {"SDHost", "SD Host Controller"};
      return {"System", "Base System Device"};
    case 0x09:
      return {"System", "PCI Input Device"};
    case 0x0C:
      if (sub == 0x00) return {"1394", "IEEE 1394 Host Controller"};
      if (sub == 0x03) return {"USB", "Universal Serial Bus (USB) Controller"};
      if (sub == 0x05) return {"System", "SM Bus Controller"};
      return {"System", "PCI Serial Bus Controller"};
    case 0x0D:
      if (sub == 0x11) return {"Bluetooth", "Bluetooth Controller"};
      return {"Net", "Network Controller"};
    case 0x11:
      return {"System", "PCI Data Acquisition and Signal Processing Controller"};
    default:
      return {"System", "PCI Device"};
  }
}

ClassAndName UsbClass(std::uint8_t cls, std::uint8_t sub, std::uint8_t prot) {
  switch (cls) {
    case 0x01:
      return {"MEDIA", "USB Audio Device"};
    case 0x02:
      if (sub == 0x06 || sub == 0x0D) return {"Net", "USB Ethernet Adapter"};
      return {"Ports", "USB Serial Device"};
    case 0x03:
      return {"HIDClass", "USB Input Device"};
    case 0x06:
      return {"Image", "USB Still Image Device"};
    case 0x07:
      return {"USB", "USB Printing Support"};
    case 0x08:
      return {"USB", "USB Mass Storage Device"};
    case 0x09:
      return {"USB", "Generic USB Hub"};
    case 0x0B:
      return {"SmartCardReader", "USB Smart Card Reader"};
    case 0x0E:
      return {"Camera", "USB Video Device"};
    case 0x10:
      return {"MEDIA", "USB Audio/Video Device"};
    case 0xE0:
      if (sub == 0x01 && prot == 0x01) return {"Bluetooth", "Generic Bluetooth Adapter"};
      return {"USB", "USB Wireless Controller"};
    default:
      return {"USB", "USB Device"};
  }
}

// The class and name of a device with this ACPI/PNP id; nullopt for an id
// this table does not know.
std::optional<ClassAndName> KnownAcpi(const std::string& id) {
  if (const KernelServed* k = KernelServedAcpiId(id)) {
    return ClassAndName{k->class_name, k->description};
  }
  static const std::map<std::string, ClassAndName> kKnown = {
      {"ACPI0003", {"Battery", "AC Adapter"}},
      {"ACPI0007", {"Processor", "Processor"}},
      {"PNP0303", {"Keyboard", "Standard PS/2 Keyboard"}},
      {"PNP0400", {"Ports", "Printer Port"}},
      {"PNP0401", {"Ports", "ECP Printer Port"}},
      {"PNP0501", {"Ports", "Communications Port"}},
      {"PNP0C09", {"System", "Embedded Controller"}},
      {"PNP0C0A", {"Battery", "Control Method Battery"}},
      {"PNP0C0C", {"System", "ACPI Power Button"}},
      {"PNP0C0D", {"System", "ACPI Lid"}},
      {"PNP0C0E", {"System", "ACPI Sleep Button"}},
      {"PNP0C14", {"System", "Management Interface for ACPI"}},
      {"PNP0F13", {"Mouse", "PS/2 Compatible Mouse"}},
  };
  if (auto it = kKnown.find(id); it != kKnown.end()) return it->second;
  if (id.rfind("PNP03", 0) == 0) return ClassAndName{"Keyboard", "Keyboard"};
  if (id.rfind("PNP0F", 0) == 0) return ClassAndName{"Mouse", "Mouse"};
  return std::nullopt;
}

// By the device's own id, else by the first compatible id known: a vendor's
// touchpad ("SYN1E03") is what Windows' mouse INF matches by "PNP0F13".
ClassAndName AcpiClass(const std::vector<std::string>& ids) {
  for (const std::string& id : ids) {
    if (auto known = KnownAcpi(id)) return *known;
  }
  return {"System", "ACPI Device"};
}

// What each bus scan finds, before driver keys are numbered.
struct Found {
  LinuxDevice device;
  ClassAndName cls{"System", ""};
  std::string driver;  // bound driver's name; "" when none
  std::string module;  // the module sysfs names for it
  std::string modalias;
  bool usb_interface = false;
  std::string fixed_matching_id;  // a matching id known without the module's aliases
  // Without a bound driver: served by the kernel's core code, matched by this id.
  std::string kernel_served_id;
  // The id database entry that names it: 'p' PCI, 'u' USB, 0 none.
  char name_bus = 0;
  std::uint16_t name_vendor = 0, name_device = 0;
};

std::vector<fs::path> SortedEntries(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

void BindDriver(Found& f, const fs::path& dir) {
  f.driver = LinkName(dir / "driver");
  if (!f.driver.empty()) f.module = LinkName(dir / "driver" / "module");
}

// The start of a device's configuration space: 64 bytes for users, 256 or
// more for root.
class ConfigSpace {
 public:
  // Binary: read as bytes (4 KiB is the most any function has), never as a
  // text attribute. A byte past the end of what came back is unknown.
  explicit ConfigSpace(const fs::path& dir)
      : bytes_(platform::ReadFileStart((dir / "config").string(), 4096).value_or("")) {}
  std::optional<std::uint8_t> Byte(size_t at) const {
    if (at >= bytes_.size()) return std::nullopt;
    return static_cast<std::uint8_t>(bytes_[at]);
  }
  std::optional<std::uint16_t> Word(size_t at) const {
    auto lo = Byte(at), hi = Byte(at + 1);
    if (!lo || !hi) return std::nullopt;
    return static_cast<std::uint16_t>(*lo | (*hi << 8));
  }

 private:
  std::string bytes_;
};

// Subsystem ids: a device header holds them at 0x2C; a bridge header has
// the subsystem capability (id 0x0D) instead.
std::optional<std::pair<std::uint16_t, std::uint16_t>> ConfigSubsystem(const ConfigSpace& c) {
  const auto header = c.Byte(0x0E);
  if (!header) return std::nullopt;
  if ((*header & 0x7F) == 0) {
    auto v = c.Word(0x2C), d = c.Word(0x2E);
    if (!v || !d) return std::nullopt;
    return std::make_pair(*v, *d);
  }
  const auto status = c.Word(0x06);
  if ((*header & 0x7F) != 1 || !status || (*status & 0x10) == 0) return std::nullopt;
  auto at = c.Byte(0x34);
  for (int hops = 0; at && *at >= 0x40 && hops < 48; ++hops) {
    const size_t cap = *at & 0xFC;
    const auto id = c.Byte(cap);
    if (!id) return std::nullopt;
    if (*id == 0x0D) {
      auto v = c.Word(cap + 4), d = c.Word(cap + 6);
      if (!v || !d) return std::nullopt;
      return std::make_pair(*v, *d);
    }
    at = c.Byte(cap + 1);
  }
  return std::nullopt;
}

std::optional<PciIds> ReadPci(const fs::path& dir) {
  auto v = ReadHex(dir / "vendor"), d = ReadHex(dir / "device");
  if (!v || !d) return std::nullopt;
  PciIds p;
  p.vendor = static_cast<std::uint16_t>(*v);
  p.device = static_cast<std::uint16_t>(*d);
  p.class_code = static_cast<std::uint32_t>(ReadHex(dir / "class").value_or(0) & 0xFFFFFF);
  const auto sv = ReadHex(dir / "subsystem_vendor"), sd = ReadHex(dir / "subsystem_device");
  const auto rev = ReadHex(dir / "revision");
  // Kernels before 3.10 publish no revision; configuration space always has
  // it, at byte 8, where Windows reads it too.
  std::optional<ConfigSpace> config;
  if (!rev || !sv || !sd) config.emplace(dir);
  if (sv && sd) {
    p.subsystem_vendor = static_cast<std::uint16_t>(*sv);
    p.subsystem_device = static_cast<std::uint16_t>(*sd);
  } else if (auto s = ConfigSubsystem(*config)) {
    p.subsystem_vendor = s->first;
    p.subsystem_device = s->second;
  }
  p.revision = static_cast<std::uint8_t>(rev ? *rev : config->Byte(8).value_or(0));
  return p;
}

void ScanPci(const fs::path& root, IdNames& names, std::vector<Found>& out) {
  for (const fs::path& dir : SortedEntries(Under(root, "/sys/bus/pci/devices"))) {
    const auto p = ReadPci(dir);
    if (!p) continue;
    Found f;
    f.device.sysfs_name = "pci/" + dir.filename().string();
    f.device.hardware_ids = linux_ids::PciHardwareIds(*p);
    f.device.compatible_ids = linux_ids::PciCompatibleIds(*p);
    f.cls = PciClass(p->class_code);
    f.modalias = ReadAttribute(dir / "modalias").value_or("");
    BindDriver(f, dir);
    if (KernelServesPciBridge(p->class_code)) {
      // What Windows' system INF matches a bridge by: its class, and the
      // programming interface for a subtractive-decode one.
      char cc[24];
      const bool subtractive = (p->class_code >> 8) == 0x0604 && (p->class_code & 0xFF) == 0x01;
      std::snprintf(cc, sizeof cc, subtractive ? "pci\\cc_%06x" : "pci\\cc_%04x",
                    subtractive ? p->class_code : p->class_code >> 8);
      f.kernel_served_id = cc;
    }
    names.WantPci(p->vendor, p->device);
    f.name_bus = 'p';
    f.name_vendor = p->vendor;
    f.name_device = p->device;
    out.push_back(std::move(f));
  }
}

struct UsbInterface {
  fs::path dir;
  UsbInterfaceIds ids;
};

// The USB entries in the order Windows lists them: root hubs ("usbN") ahead
// of the devices behind them.
std::vector<fs::path> UsbEntries(const fs::path& root) {
  std::vector<fs::path> entries = SortedEntries(Under(root, "/sys/bus/usb/devices"));
  std::stable_partition(entries.begin(), entries.end(), [](const fs::path& p) {
    return p.filename().string().rfind("usb", 0) == 0;
  });
  return entries;
}

// Interfaces ("1-1:1.0") by their device ("1-1"), found in one pass.
std::map<std::string, std::vector<fs::path>> InterfacesByDevice(
    const std::vector<fs::path>& entries) {
  std::map<std::string, std::vector<fs::path>> interfaces_of;
  for (const fs::path& e : entries) {
    const std::string n = e.filename().string();
    const size_t colon = n.find(':');
    if (colon != std::string::npos) interfaces_of[n.substr(0, colon)].push_back(e);
  }
  return interfaces_of;
}

std::optional<UsbDeviceIds> ReadUsbDeviceIds(const fs::path& dir) {
  auto v = ReadHex(dir / "idVendor"), p = ReadHex(dir / "idProduct");
  if (!v || !p) return std::nullopt;
  UsbDeviceIds d;
  d.vendor = static_cast<std::uint16_t>(*v);
  d.product = static_cast<std::uint16_t>(*p);
  d.revision = static_cast<std::uint16_t>(ReadHex(dir / "bcdDevice").value_or(0));
  d.device_class = static_cast<std::uint8_t>(ReadHex(dir / "bDeviceClass").value_or(0));
  d.device_subclass = static_cast<std::uint8_t>(ReadHex(dir / "bDeviceSubClass").value_or(0));
  d.device_protocol = static_cast<std::uint8_t>(ReadHex(dir / "bDeviceProtocol").value_or(0));
  return d;
}

// A device's interfaces in interface-number order.
std::vector<UsbInterface> ReadUsbInterfaces(const std::vector<fs::path>& dirs) {
  std::vector<UsbInterface> interfaces;
  for (const fs::path& e : dirs) {
    UsbInterface i{e, {}};
    i.ids.number = static_cast<std::uint8_t>(ReadHex(e / "bInterfaceNumber").value_or(0));
    i.ids.interface_class = static_cast<std::uint8_t>(ReadHex(e / "bInterfaceClass").value_or(0));
    i.ids.interface_subclass =
        static_cast<std::uint8_t>(ReadHex(e / "bInterfaceSubClass").value_or(0));
    i.ids.interface_protocol =
        static_cast<std::uint8_t>(ReadHex(e / "bInterfaceProtocol").value_or(0));
    interfaces.push_back(i);
  }
  std::sort(interfaces.begin(), interfaces.end(), [](const UsbInterface& a, const UsbInterface& b) {
    return a.ids.number < b.ids.number;
  });
  return interfaces;
}

// Windows names a root hub after its host controller, and its hub driver
// matches it by the bare "USB\ROOT_HUBnn" id.
void DescribeRootHub(const fs::path& dir, Found& f) {
  const auto version = ReadAttribute(dir / "version").value_or("");
  const int major = std::atoi(version.c_str());
  std::error_code ec;
  const auto controller = ReadPci(fs::canonical(dir, ec).parent_path());
  f.device.hardware_ids =
      linux_ids::UsbRootHubHardwareIds(major, !ec && controller ? &*controller : nullptr);
  f.cls = {"USB", major >= 3 ? "USB Root Hub (USB 3.0)" : "USB Root Hub"};
  f.device.description = f.cls.generic_name;
  f.fixed_matching_id = f.device.hardware_ids.back();
  for (char& c : f.fixed_matching_id) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
}

// The function of a composite device's interface, listed after its parent.
Found UsbInterfaceDevice(const UsbDeviceIds& d, const UsbInterface& i) {
  Found fi;
  fi.device.sysfs_name = "usb/" + i.dir.filename().string();
  fi.device.hardware_ids = linux_ids::UsbInterfaceHardwareIds(d, i.ids);
  fi.device.compatible_ids = linux_ids::UsbInterfaceCompatibleIds(i.ids);
  fi.cls = UsbClass(i.ids.interface_class, i.ids.interface_subclass, i.ids.interface_protocol);
  fi.device.description = fi.cls.generic_name;
  fi.modalias = ReadAttribute(i.dir / "modalias").value_or("");
  fi.usb_interface = true;
  BindDriver(fi, i.dir);
  return fi;
}

// One USB device (and, for a composite one, its interfaces) as Windows lists it.
void AddUsbDevice(const fs::path& dir, const std::vector<fs::path>& interface_dirs, IdNames& names,
                  std::vector<Found>& out) {
  const std::string name = dir.filename().string();
  const std::optional<UsbDeviceIds> ids = ReadUsbDeviceIds(dir);
  if (!ids) return;
  const UsbDeviceIds& d = *ids;
  const int configurations = static_cast<int>(ReadDecimal(dir / "bNumConfigurations").value_or(1));
  const std::vector<UsbInterface> interfaces = ReadUsbInterfaces(interface_dirs);

  Found f;
  f.device.sysfs_name = "usb/" + name;
  const bool root_hub = name.rfind("usb", 0) == 0;
  const bool composite = !root_hub && linux_ids::IsUsbComposite(
                                          d, static_cast<int>(interfaces.size()), configurations);
  if (root_hub) {
    DescribeRootHub(dir, f);
  } else {
    f.device.hardware_ids = linux_ids::UsbDeviceHardwareIds(d);
    names.WantUsb(d.vendor, d.product);
    f.name_bus = 'u';
    f.name_vendor = d.vendor;
    f.name_device = d.product;
  }
  if (composite) {
    f.device.compatible_ids = linux_ids::UsbCompositeCompatibleIds(d);
    f.cls = {"USB", "USB Composite Device"};
    // Windows names the parent after the composite driver, not after the
    // product.
    f.name_bus = 0;
    BindDriver(f, dir);
    f.fixed_matching_id = "usb\\composite";
    f.device.description = f.cls.generic_name;
    out.push_back(std::move(f));
    for (const UsbInterface& i : interfaces) out.push_back(UsbInterfaceDevice(d, i));
    return;
  }
  if (!root_hub) {
    f.device.compatible_ids = linux_ids::UsbDeviceCompatibleIds(
        d, interfaces.empty() ? nullptr : &interfaces.front().ids);
    const bool by_interface = d.device_class == 0 && !interfaces.empty();
    const UsbInterfaceIds& i = by_interface ? interfaces.front().ids : UsbInterfaceIds{};
    f.cls = by_interface ? UsbClass(i.interface_class, i.interface_subclass, i.interface_protocol)
                         : UsbClass(d.device_class, d.device_subclass, d.device_protocol);
  }
  // Windows binds one function driver to the whole device; Linux binds it
  // to the interface.
  const fs::path bound = interfaces.empty() ? dir : interfaces.front().dir;
  BindDriver(f, bound);
  f.modalias = ReadAttribute(bound / "modalias").value_or("");
  if (!root_hub) f.device.description = ReadAttribute(dir / "product").value_or("");
  out.push_back(std::move(f));
}

void ScanUsb(const fs::path& root, IdNames& names, std::vector<Found>& out) {
  const std::vector<fs::path> entries = UsbEntries(root);
  std::map<std::string, std::vector<fs::path>> interfaces_of = InterfacesByDevice(entries);
  for (const fs::path& dir : entries) {
    const std::string name = dir.filename().string();
    if (name.find(':') != std::string::npos) continue;  // an interface: with its device
    AddUsbDevice(dir, interfaces_of[name], names, out);
  }
}

void ScanAcpi(const fs::path& root, std::vector<Found>& out) {
  for (const fs::path& dir : SortedEntries(Under(root, "/sys/bus/acpi/devices"))) {
    // The kernel names an object without any id "device:NN", and gives it
    // no hid to read.
    if (dir.filename().string().rfind("device:", 0) == 0) continue;
    const std::string hid = ReadAttribute(dir / "hid").value_or("");
    if (hid.empty() || hid.rfind("LNX", 0) == 0) continue;  // Linux's own objects
    if (auto status = ReadDecimal(dir / "status"); status && (*status & 1) == 0) continue;
    // "acpi:PNP0A08:PNP0A03:": the device's id, then its compatible ids.
    std::vector<std::string> cids;
    const std::string modalias = ReadAttribute(dir / "modalias").value_or("");
    size_t at = modalias.find(':');
    while (at != std::string::npos) {
      const size_t next = modalias.find(':', at + 1);
      const std::string id =
          modalias.substr(at + 1, next == std::string::npos ? next : next - at - 1);
      if (!id.empty() && id != hid && id.rfind("LNX", 0) != 0) cids.push_back(id);
      at = next;
    }
    Found f;
    f.device.sysfs_name = "acpi/" + dir.filename().string();
    f.device.hardware_ids = linux_ids::AcpiIds({hid});
    f.device.compatible_ids = linux_ids::AcpiIds(cids);
    std::vector<std::string> ids{hid};
    ids.insert(ids.end(), cids.begin(), cids.end());
    const KernelServed* served = KernelServedAcpi(ids);
    f.cls = AcpiClass(ids);
    if (served != nullptr) {
      const std::string id = served->id;
      f.kernel_served_id = id.rfind("PNP", 0) == 0 ? "*" + id : "ACPI\\" + id;
      for (char& c : f.kernel_served_id) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      }
    }
    f.device.description = f.cls.generic_name;
    f.modalias = modalias;
    BindDriver(f, dir);
    // Most ACPI devices are driven through the device made for them.
    for (const char* node : {"physical_node", "physical_node1", "physical_node2"}) {
      if (!f.driver.empty()) break;
      BindDriver(f, dir / node);
    }
    out.push_back(std::move(f));
  }
}

}  // namespace

std::vector<LinuxDevice> ScanDevices(const fs::path& root) {
  IdNames names(root);
  std::vector<Found> found;
  ScanPci(root, names, found);
  ScanUsb(root, names, found);
  ScanAcpi(root, found);
  names.Load();

  ModuleCatalog modules(root);
  const std::string& kernel_date = modules.kernel_date();
  std::map<std::string, int> per_class;
  std::vector<LinuxDevice> out;
  out.reserve(found.size());
  for (Found& f : found) {
    LinuxDevice& d = f.device;
    // The database first, then what the device says of itself, then its class.
    const std::string db = f.name_bus == 'p'   ? names.Pci(f.name_vendor, f.name_device)
                           : f.name_bus == 'u' ? names.Usb(f.name_vendor, f.name_device)
                                               : "";
    if (!db.empty()) d.description = db;
    if (d.description.empty()) d.description = f.cls.generic_name;

    const bool kernel_served = f.driver.empty() && !f.kernel_served_id.empty();
    if (f.driver.empty() && !kernel_served) {
      d.problem = kProblemDriverNotInstalled;
    } else {
      d.class_name = f.cls.class_name;
      d.class_guid = ClassGuids().at(d.class_name);
      char number[8];
      std::snprintf(number, sizeof number, "%04d", per_class[d.class_guid]++);
      d.driver_key = d.class_guid + "\\" + number;
      if (kernel_served) {
        d.driver.version = modules.release();
        d.driver.date = kernel_date;
        d.driver.provider = kKernelProvider;
        d.driver.inf_path = kKernelCoreInfPath;
        d.driver.matching_id = f.kernel_served_id;
      } else {
        d.driver = modules.Describe(f.driver, f.module, f.modalias, f.usb_interface);
        if (!f.fixed_matching_id.empty()) d.driver.matching_id = f.fixed_matching_id;
      }
    }
    out.push_back(std::move(d));
  }
  return out;
}

}  // namespace devices::linux_sys

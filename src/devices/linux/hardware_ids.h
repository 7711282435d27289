// Windows-format identifiers for Linux devices, built from the raw ids the
// kernel publishes, so a report made here names hardware as Windows would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devices::linux_ids {

struct PciIds {
  std::uint16_t vendor = 0, device = 0, subsystem_vendor = 0, subsystem_device = 0;
  std::uint32_t class_code = 0;  // 24 bits: base class, subclass, programming interface
  std::uint8_t revision = 0;
};
std::vector<std::string> PciHardwareIds(const PciIds& p);
std::vector<std::string> PciCompatibleIds(const PciIds& p);

struct UsbDeviceIds {
  std::uint16_t vendor = 0, product = 0, revision = 0;  // revision = bcdDevice
  std::uint8_t device_class = 0, device_subclass = 0, device_protocol = 0;
};
struct UsbInterfaceIds {
  std::uint8_t number = 0, interface_class = 0, interface_subclass = 0, interface_protocol = 0;
};
// Composite: more than one interface, a single configuration, and a device
// class of 0 or the interface-association triple EF/02/01.
bool IsUsbComposite(const UsbDeviceIds& d, int interfaces, int configurations);
std::vector<std::string> UsbDeviceHardwareIds(const UsbDeviceIds& d);
// A device that is not composite takes its class triple from the device
// descriptor, or from its interface when the device's class is 0.
std::vector<std::string> UsbDeviceCompatibleIds(const UsbDeviceIds& d,
                                                const UsbInterfaceIds* first_interface);
std::vector<std::string> UsbCompositeCompatibleIds(const UsbDeviceIds& d);
std::vector<std::string> UsbInterfaceHardwareIds(const UsbDeviceIds& d, const UsbInterfaceIds& i);
std::vector<std::string> UsbInterfaceCompatibleIds(const UsbInterfaceIds& i);
// A host controller's root hub: "USB\ROOT_HUB30&VIDvvvv&PIDpppp&REVrrrr" and
// shorter forms from the controller's PCI ids, when known.
std::vector<std::string> UsbRootHubHardwareIds(int usb_major, const PciIds* controller);

// ACPI: "ACPI\PNP0A08" and "*PNP0A08" for each id.
std::vector<std::string> AcpiIds(const std::vector<std::string>& ids);

// The lower-case Windows-style id that a module alias pattern stands for
// ("pci:v00008086d000010D3sv*sd*bc*sc*i*" -> "pci\ven_8086&dev_10d3"); ""
// for an alias of another bus or one that names no id.
// `usb_interface` adds "&mi_nn" for interfaces of composite devices.
std::string AliasToWindowsId(const std::string& alias, bool usb_interface = false);

}  // namespace devices::linux_ids

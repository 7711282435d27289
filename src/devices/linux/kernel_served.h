// Devices the kernel serves from its own core code, without binding a driver
// to them in sysfs. Windows lists the same devices as working system devices
// served by its inbox drivers; a device here with no driver bound is working,
// not missing a driver.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devices::linux_sys {

struct KernelServed {
  const char* id;           // ACPI/PNP id as the firmware gives it ("PNP0A08")
  const char* class_name;   // Windows setup class
  const char* description;  // as Windows names the device
};

// The entry for the first of `ids` (the device's own id, then its compatible
// ids) that the kernel handles internally; nullptr when none is.
const KernelServed* KernelServedAcpi(const std::vector<std::string>& ids);

// The entry for one ACPI/PNP id; nullptr when the kernel does not handle it.
const KernelServed* KernelServedAcpiId(const std::string& id);

// PCI bridges the PCI core runs itself: host and other non-PCI-to-PCI
// bridges (class 06xx other than the CardBus and PCMCIA socket bridges),
// and PCI-to-PCI bridges without a port driver (plain and subtractive
// decode, semi-transparent).
bool KernelServesPciBridge(std::uint32_t class_code);

// The InfPath of a device the kernel core serves.
inline constexpr char kKernelCoreInfPath[] = "kernel";

}  // namespace devices::linux_sys

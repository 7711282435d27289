#include "devices/linux/kernel_served.h"

namespace devices::linux_sys {
namespace {

// ACPI and PNP ids the kernel handles internally: architecture code, the
// ACPI core's scan handlers and the PNP core claim them, so no driver is
// bound to them in sysfs.
constexpr KernelServed kAcpiServed[] = {
    // Interrupt controllers: the architecture's interrupt code drives them.
    {"PNP0000", "System", "Programmable interrupt controller"},  // AT 8259 PIC
    {"PNP0001", "System", "EISA programmable interrupt controller"},
    {"PNP0003", "System", "Advanced programmable interrupt controller"},  // IO-APIC
    // Timers: clock sources and clock events of the timekeeping core.
    {"PNP0100", "System", "System timer"},  // 8254 PIT
    {"PNP0101", "System", "EISA system timer"},
    {"PNP0103", "System", "High precision event timer"},  // HPET, set up from ACPI
    // DMA controllers: the ISA DMA API of the architecture code.
    {"PNP0200", "System", "Direct memory access controller"},  // AT 8237
    {"PNP0201", "System", "EISA direct memory access controller"},
    // PC speaker: a platform device of its own; the ACPI node stays unbound.
    {"PNP0800", "System", "System speaker"},
    // PCI roots: the ACPI PCI root scan handler builds the PCI hierarchy.
    {"PNP0A03", "System", "PCI Bus"},
    // Containers: the ACPI container scan handler.
    {"PNP0A05", "System", "Generic Bus"},
    {"PNP0A06", "System", "Extended IO Bus"},
    {"PNP0A08", "System", "PCI Express Root Complex"},
    // CMOS clock: timekeeping reads it directly where rtc-cmos is absent.
    {"PNP0B00", "System", "System CMOS/real time clock"},
    // Motherboard resources: the PNP core reserves their ranges.
    {"PNP0C01", "System", "System board"},
    {"PNP0C02", "System", "Motherboard resources"},
    // Floating-point unit: the CPU's own, handled by the FPU code.
    {"PNP0C04", "System", "Numeric data processor"},
    // PCI interrupt links: routed by the ACPI core's link handler.
    {"PNP0C0F", "System", "PCI Interrupt Link"},
    // Memory devices: the ACPI memory hotplug handler and memory core.
    {"PNP0C80", "System", "Memory Device"},
    // Module devices: the ACPI container scan handler.
    {"ACPI0004", "System", "ACPI Module Device"},
    // Processor containers: the ACPI processor container handler.
    {"ACPI0010", "System", "ACPI Processor Container Device"},
};

}  // namespace

const KernelServed* KernelServedAcpiId(const std::string& id) {
  for (const KernelServed& k : kAcpiServed) {
    if (id == k.id) return &k;
  }
  return nullptr;
}

const KernelServed* KernelServedAcpi(const std::vector<std::string>& ids) {
  for (const std::string& id : ids) {
    if (const KernelServed* k = KernelServedAcpiId(id)) return k;
  }
  return nullptr;
}

bool KernelServesPciBridge(std::uint32_t class_code) {
  const unsigned base = class_code >> 16, sub = (class_code >> 8) & 0xFF;
  // Socket bridges need a socket driver (yenta for CardBus, i82092 for
  // PCMCIA); every other bridge the core runs, PCI-to-PCI ones only while
  // no port driver took them.
  return base == 0x06 && sub != 0x05 && sub != 0x07;
}

}  // namespace devices::linux_sys

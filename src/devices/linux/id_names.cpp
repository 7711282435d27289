#include "devices/linux/id_names.h"

#include <cstdio>
#include <fstream>

#include "devices/linux/sysroot.h"

namespace devices::linux_sys {
namespace {

std::string PciKey(std::uint16_t v, std::uint16_t d) {
  char b[48];
  std::snprintf(b, sizeof b, "pci:v0000%04Xd0000%04X*", v, d);
  return b;
}

std::string UsbKey(std::uint16_t v, std::uint16_t p) {
  char b[32];
  std::snprintf(b, sizeof b, "usb:v%04Xp%04X*", v, p);
  return b;
}

constexpr char kModelKey[] = " ID_MODEL_FROM_DATABASE=";

}  // namespace

void IdNames::WantPci(std::uint16_t vendor, std::uint16_t device) {
  wanted_.insert(PciKey(vendor, device));
}

void IdNames::WantUsb(std::uint16_t vendor, std::uint16_t product) {
  wanted_.insert(UsbKey(vendor, product));
}

void IdNames::Load() {
  if (wanted_.empty()) return;
  bool pci = false;
  bool usb = false;
  for (const char* dir : {"/etc/udev/hwdb.d/", "/usr/lib/udev/hwdb.d/", "/lib/udev/hwdb.d/"}) {
    if (!pci) pci = LoadHwdb(std::string(dir) + "20-pci-vendor-model.hwdb");
    if (!usb) usb = LoadHwdb(std::string(dir) + "20-usb-vendor-model.hwdb");
  }
  for (const char* f : {"/usr/share/misc/pci.ids", "/usr/share/hwdata/pci.ids"}) {
    if (!pci) LoadIds(f, false);
  }
  for (const char* f :
       {"/usr/share/misc/usb.ids", "/usr/share/hwdata/usb.ids", "/var/lib/usbutils/usb.ids"}) {
    if (!usb) LoadIds(f, true);
  }
}

// One pass over the file, keeping only the entries asked for.
bool IdNames::LoadHwdb(const std::string& file) {
  std::ifstream in(Under(root_, file));
  if (!in) return false;
  std::string line;
  const std::string* current = nullptr;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') {
      current = nullptr;
      continue;
    }
    if (line[0] != ' ') {
      auto it = wanted_.find(line);
      current = it == wanted_.end() ? nullptr : &*it;
    } else if (current != nullptr && line.rfind(kModelKey, 0) == 0) {
      names_.emplace(*current, line.substr(sizeof kModelKey - 1));
    }
  }
  return true;
}

// pci.ids / usb.ids: "vvvv  Vendor", then "\tdddd  Device" lines below it.
void IdNames::LoadIds(const std::string& file, bool usb) {
  std::ifstream in(Under(root_, file));
  if (!in) return;
  std::string line;
  unsigned vendor = 0x10000;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] != '\t') {
      // Sections after the vendors ("C 00 ...", "AT ...") end them.
      if (line.size() < 6 || line[4] != ' ' || std::sscanf(line.c_str(), "%4x", &vendor) != 1) {
        vendor = 0x10000;
      }
      continue;
    }
    unsigned device = 0;
    if (vendor > 0xFFFF || line.size() < 7 || line[1] == '\t' ||
        std::sscanf(line.c_str() + 1, "%4x", &device) != 1) {
      continue;
    }
    const std::string key = usb ? UsbKey(vendor, device) : PciKey(vendor, device);
    if (wanted_.count(key)) names_.emplace(key, line.substr(7));
  }
}

std::string IdNames::Pci(std::uint16_t vendor, std::uint16_t device) const {
  auto it = names_.find(PciKey(vendor, device));
  return it == names_.end() ? "" : it->second;
}

std::string IdNames::Usb(std::uint16_t vendor, std::uint16_t product) const {
  auto it = names_.find(UsbKey(vendor, product));
  return it == names_.end() ? "" : it->second;
}

}  // namespace devices::linux_sys

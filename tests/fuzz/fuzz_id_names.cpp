// The id databases of any content: udev hwdb sources, pci.ids and usb.ids.
#include <cstdint>
#include <filesystem>
#include <string>

#include "devices/linux/id_names.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  namespace fs = std::filesystem;
  // A fresh root each time: what the databases hold depends on which exist.
  const fs::path root = fuzz::Scratch() / "ids";
  fs::remove_all(root);
  const std::string text(reinterpret_cast<const char*>(data) + 5, size - 5);
  static const char* const kFiles[] = {"usr/lib/udev/hwdb.d/20-pci-vendor-model.hwdb",
                                       "usr/lib/udev/hwdb.d/20-usb-vendor-model.hwdb",
                                       "usr/share/misc/pci.ids", "usr/share/misc/usb.ids"};
  fuzz::WriteFile(root / kFiles[data[0] % 4], text);
  const auto vendor = static_cast<std::uint16_t>(data[1] | data[2] << 8);
  const auto device = static_cast<std::uint16_t>(data[3] | data[4] << 8);
  devices::linux_sys::IdNames names(root);
  names.WantPci(vendor, device);
  names.WantUsb(vendor, device);
  names.WantPci(0x8086, 0x10D3);
  names.WantUsb(0x046D, 0xC52B);
  names.Load();
  for (const std::string& name : {names.Pci(vendor, device), names.Usb(vendor, device),
                                  names.Pci(0x8086, 0x10D3), names.Usb(0x046D, 0xC52B)}) {
    fuzz::Require(name.size() <= text.size());
    fuzz::Require(name.find('\n') == std::string::npos);
  }
  return 0;
}

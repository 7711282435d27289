// sysfs, procfs and module attributes of any content, read by the whole
// device scan of a fixture system and made into the driver list.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "devices/driver_list.h"
#include "devices/linux/device_records.h"
#include "fuzz_input.h"

namespace {

namespace fs = std::filesystem;

// The attributes an input fills, in order, in a copy of the device fixture.
const char* const kAttributes[] = {
    "sys/devices/pci0000:00/0000:03:00.0/vendor",
    "sys/devices/pci0000:00/0000:03:00.0/device",
    "sys/devices/pci0000:00/0000:03:00.0/class",
    "sys/devices/pci0000:00/0000:03:00.0/subsystem_vendor",
    "sys/devices/pci0000:00/0000:03:00.0/revision",
    "sys/devices/pci0000:00/0000:03:00.0/modalias",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/idVendor",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/idProduct",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/bcdDevice",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/bDeviceClass",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/product",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/bNumConfigurations",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/version",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/bInterfaceClass",
    "sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/modalias",
    "sys/devices/LNXSYSTM:00/PNP0303:00/hid",
    "sys/devices/LNXSYSTM:00/PNP0303:00/modalias",
    "sys/module/xhci_pci/version",
    "proc/sys/kernel/version",
};

const fs::path& Root() {
  static const fs::path root = [] {
    const fs::path r = fuzz::Scratch() / "sysroot";
    fs::copy(fs::path(KESTROVA_TEST_DATA) / "devices" / "sysroot", r,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    return r;
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto fields = fuzz::Fields(data, size, std::size(kAttributes));
  for (std::size_t i = 0; i < fields.size(); ++i)
    fuzz::WriteFile(Root() / kAttributes[i], fields[i]);
  std::vector<devices::DeviceRecord> records;
  for (const auto& d : devices::linux_sys::ScanDevices(Root()))
    records.push_back(devices::linux_sys::ToDeviceRecord(d));
  const std::wstring list = devices::FormatDriverList(records);
  // Every identifier reaches the list whole: no NUL, no empty one, no
  // separator inside it; every text stays on its line.
  for (const auto& r : records) {
    for (const auto* ids : {&r.hardware_ids, &r.compatible_ids}) {
      for (const std::wstring& id : *ids)
        fuzz::Require(!id.empty() && id.find_first_of(L", ") == std::wstring::npos);
    }
  }
  fuzz::Require(list.find(L'\0') == std::wstring::npos);
  for (std::size_t at = list.find(L'\n'); at != std::wstring::npos; at = list.find(L'\n', at + 1))
    fuzz::Require(list.compare(at + 1, 7, L"driver_") == 0);
  return 0;
}

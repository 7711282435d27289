// sysfs, procfs and module attributes of any content, read by the whole
// device scan of a fixture system and made into the driver list.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "devices/driver_list.h"
#include "devices/linux/sysfs_device_api.h"
#include "devices/linux/sysfs_inventory.h"
#include "devices/linux/sysfs_registry.h"
#include "fakes/fake_device_ui.h"
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
  auto devices = std::make_shared<std::vector<devices::linux_sys::LinuxDevice>>(
      devices::linux_sys::ScanDevices(Root()));
  devices::linux_sys::SysfsDeviceApi api(devices);
  devices::linux_sys::SysfsRegistry registry(*devices);
  fakes::FakeDeviceUi ui;
  const std::wstring list = modDeviceManagerAPI::CollectDriverList(api, registry, ui);
  // Every identifier reaches the list whole: no NUL, no empty one.
  for (const auto& d : *devices) {
    for (const auto* ids : {&d.hardware_ids, &d.compatible_ids}) {
      for (const std::string& id : *ids) fuzz::Require(!id.empty());
    }
  }
  fuzz::Require(list.find(L'\0') == std::wstring::npos);
  fuzz::Require(ui.messages.empty());
  return 0;
}

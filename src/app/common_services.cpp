// The scan operations whose platform differences are already behind their
// own subsystem's factories, so both composition roots share them.
#include "app/scan_services.h"
#include "devices/device_inventory.h"
#include "devices/device_ui.h"
#include "devices/driver_list.h"
#include "ident/base64.h"
#include "sysinfo/computer_facts.h"
#include "sysinfo/info_ui.h"

namespace app {

ScanServices CommonServices(ScanUi& ui) {
  ScanServices s;
  s.CollectScanData = [&ui] {
    devices::DeviceUiFor<ScanUi> device_ui(ui);
    std::unique_ptr<devices::DeviceInventory> inventory = devices::MakeDeviceInventory(device_ui);
    return devices::CollectScanData(*inventory, [&ui] {
      sysinfo::InfoUiFor<ScanUi> info_ui(ui);
      return sysinfo::CollectComputerBlock(*sysinfo::MakeComputerFactsSource(info_ui), info_ui);
    });
  };
  s.EncodeText = [](const std::wstring& text) { return ident::EncodeText(text); };
  return s;
}

}  // namespace app

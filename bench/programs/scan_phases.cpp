// scan_phases [RUNS]: the three parts of a scan timed apart, on the platform
// it was built for: the device list (device set and class keys), the
// computer information block, and the identity (disk serial number and scan
// id). Prints each part's median and fastest run in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/scan_services.h"
#include "devices/device_inventory.h"
#include "devices/device_ui.h"
#include "devices/driver_list.h"
#include "sysinfo/computer_facts.h"
#include "sysinfo/info_ui.h"

namespace {

// Nobody watches: status texts and messages go nowhere.
class Quiet : public app::ScanUi, public devices::DeviceUi, public sysinfo::InfoUi {
 public:
  void SetStatus(const std::wstring&) override {}
  void ShowMessage(const std::wstring&) override {}
  void Minimize() override {}
  void PumpPending() override {}
  void SetWaitCursor(bool) override {}
};

struct Phase {
  Phase(const char* n, std::function<size_t()> r) : name(n), run(std::move(r)) {}
  const char* name;
  std::function<size_t()> run;  // the length of what it made
  std::vector<double> ms;
  size_t made = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  Quiet quiet;
  auto fs = app::MakeFileSystem();
  app::ScanServices services = app::MakePlatformServices(quiet, *fs);

  std::vector<Phase> phases;
  phases.emplace_back("device list", [&quiet] {
    std::unique_ptr<devices::DeviceInventory> inventory = devices::MakeDeviceInventory(quiet);
    return devices::FormatDriverList(inventory->ListDevices()).size();
  });
  phases.emplace_back("computer block", [&quiet] {
    return sysinfo::CollectComputerBlock(*sysinfo::MakeComputerFactsSource(quiet), quiet).size();
  });
  phases.emplace_back("identity", [&services] {
    return services.GetHardwareId().size() + services.NewScanId().size();
  });

  for (int i = 0; i < runs; ++i) {
    for (Phase& p : phases) {
      const auto start = std::chrono::steady_clock::now();
      p.made = p.run();
      p.ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
  }
  double total = 0;
  for (Phase& p : phases) {
    std::sort(p.ms.begin(), p.ms.end());
    const double median = p.ms[p.ms.size() / 2];
    total += median;
    std::printf("%-15s median %8.2f ms  fastest %8.2f ms  (%zu characters)\n", p.name, median,
                p.ms.front(), p.made);
  }
  std::printf("%-15s median %8.2f ms  over %d runs (the first run included)\n", "all three", total,
              runs);
  return 0;
}

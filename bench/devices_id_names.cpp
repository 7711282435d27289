// Device names from this machine's id databases (the first found, as a scan
// reads them) and from hwdb sources made from its pci.ids: for this
// machine's own PCI devices, for a laptop's worth of mostly-Intel devices,
// and a whole-file read of pci.ids for comparison.
#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "devices/linux/id_names.h"
#include "devices/linux/sysroot.h"

namespace {

namespace fs = std::filesystem;
using devices::linux_sys::IdNames;
using Ids = std::vector<std::pair<std::uint16_t, std::uint16_t>>;

Ids ThisMachine() {
  Ids out;
  std::error_code ec;
  for (fs::directory_iterator it("/sys/bus/pci/devices", ec), end; !ec && it != end;
       it.increment(ec)) {
    auto v = devices::linux_sys::ReadHex(it->path() / "vendor");
    auto d = devices::linux_sys::ReadHex(it->path() / "device");
    if (v && d) out.emplace_back(static_cast<std::uint16_t>(*v), static_cast<std::uint16_t>(*d));
  }
  return out;
}

// A laptop: chipset functions of the largest vendor, a discrete GPU, Wi-Fi,
// a card reader, an NVMe disk.
const Ids kLaptop = {{0x8086, 0x9a14}, {0x8086, 0x9a49}, {0x8086, 0xa0e8}, {0x8086, 0xa0c8},
                     {0x8086, 0xa0ef}, {0x8086, 0xa0e0}, {0x8086, 0xa0a3}, {0x8086, 0xa0a4},
                     {0x8086, 0xa0c5}, {0x8086, 0xa082}, {0x8086, 0x9a1b}, {0x8086, 0x9a13},
                     {0x8086, 0xa0ed}, {0x8086, 0x2723}, {0x10de, 0x1f9d}, {0x10ec, 0x5261},
                     {0x144d, 0xa808}, {0x1217, 0x8621}};

// A root whose first PCI database is hwdb sources made from this machine's
// pci.ids, a record per vendor, device and subsystem as udev's tools write
// them: what most desktops read. Empty when there is no pci.ids.
fs::path HwdbRoot() {
  static const fs::path root = [] {
    const fs::path dir = fs::temp_directory_path() / "kestrova-bench-hwdb";
    std::ifstream in("/usr/share/misc/pci.ids");
    if (!in) return fs::path();
    fs::create_directories(dir / "usr/lib/udev/hwdb.d");
    std::atexit([] { fs::remove_all(fs::temp_directory_path() / "kestrova-bench-hwdb"); });
    std::ofstream out(dir / "usr/lib/udev/hwdb.d/20-pci-vendor-model.hwdb");
    std::string line, vendor, device;
    const auto up = [](std::string s) {
      for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return s;
    };
    while (std::getline(in, line)) {
      if (line.size() > 6 && line[0] != '\t' && line[0] != '#' && line.compare(4, 2, "  ") == 0) {
        vendor = up(line.substr(0, 4));
        out << "pci:v0000" << vendor << "*\n ID_VENDOR_FROM_DATABASE=" << line.substr(6) << "\n\n";
      } else if (line.size() > 7 && line[0] == '\t' && line[1] != '\t' && !vendor.empty()) {
        device = up(line.substr(1, 4));
        out << "pci:v0000" << vendor << "d0000" << device
            << "*\n ID_MODEL_FROM_DATABASE=" << line.substr(7) << "\n\n";
      } else if (line.size() > 13 && line[1] == '\t' && !device.empty()) {
        out << "pci:v0000" << vendor << "d0000" << device << "sv0000" << up(line.substr(2, 4))
            << "sd0000" << up(line.substr(7, 4)) << "*\n ID_MODEL_FROM_DATABASE=" << line.substr(13)
            << "\n\n";
      } else if (!line.empty() && line[0] != '\t' && line[0] != '#') {
        vendor.clear();
        device.clear();
      }
    }
    return dir;
  }();
  return root;
}

void Lookup(benchmark::State& state, const Ids& ids, const fs::path& root = "/") {
  size_t named = 0;
  std::string database;
  for (auto _ : state) {
    IdNames names(root);
    for (const auto& [v, d] : ids) names.WantPci(v, d);
    names.Load();
    named = 0;
    for (const auto& [v, d] : ids) named += names.Pci(v, d).empty() ? 0 : 1;
    database = names.pci_database();
  }
  if (database.empty()) state.SkipWithError("no PCI id database on this machine");
  state.counters["asked"] = static_cast<double>(ids.size());
  state.counters["named"] = static_cast<double>(named);
}

void BM_ThisMachine(benchmark::State& state) {
  Lookup(state, ThisMachine());
}
BENCHMARK(BM_ThisMachine)->Unit(benchmark::kMicrosecond);

void BM_Laptop(benchmark::State& state) {
  Lookup(state, kLaptop);
}
BENCHMARK(BM_Laptop)->Unit(benchmark::kMicrosecond);

void BM_ThisMachineHwdb(benchmark::State& state) {
  if (HwdbRoot().empty()) return state.SkipWithError("no /usr/share/misc/pci.ids");
  Lookup(state, ThisMachine(), HwdbRoot());
}
BENCHMARK(BM_ThisMachineHwdb)->Unit(benchmark::kMicrosecond);

void BM_LaptopHwdb(benchmark::State& state) {
  if (HwdbRoot().empty()) return state.SkipWithError("no /usr/share/misc/pci.ids");
  Lookup(state, kLaptop, HwdbRoot());
}
BENCHMARK(BM_LaptopHwdb)->Unit(benchmark::kMicrosecond);

// What reading every line of pci.ids costs, the way a whole-file parse does.
void BM_WholePciIds(benchmark::State& state) {
  size_t lines = 0;
  for (auto _ : state) {
    std::ifstream in("/usr/share/misc/pci.ids");
    if (!in) {
      state.SkipWithError("no /usr/share/misc/pci.ids");
      return;
    }
    std::string line;
    lines = 0;
    unsigned vendor = 0;
    while (std::getline(in, line)) {
      ++lines;
      if (!line.empty() && line[0] != '\t' && line[0] != '#') {
        std::sscanf(line.c_str(), "%4x", &vendor);
      }
    }
    benchmark::DoNotOptimize(vendor);
  }
  state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_WholePciIds)->Unit(benchmark::kMicrosecond);

}  // namespace

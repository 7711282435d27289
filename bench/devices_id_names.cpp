// Device names from this machine's id databases (the first found, as a scan
// reads them): for this machine's own PCI devices, for a laptop's worth of
// mostly-Intel devices, and a whole-file read of pci.ids for comparison.
#include <benchmark/benchmark.h>

#include <cstdio>
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

void Lookup(benchmark::State& state, const Ids& ids) {
  size_t named = 0;
  std::string database;
  for (auto _ : state) {
    IdNames names("/");
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

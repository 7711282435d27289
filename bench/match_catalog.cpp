// The catalog and the matcher at catalog scale: indexing 100,000 INF files
// (from nothing, again when none changed, and after 1 % of them changed) and
// matching a 200-device report against that index. The INF files are generated deterministically
// into bench-match/ beside this program (under build/), once.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "match/match.h"

namespace fs = std::filesystem;

namespace {

constexpr int kInfFiles = 100000;
constexpr int kModelsPerInf = 6;
constexpr int kDevices = 200;
// Distinct devices the catalog covers: three packages per device, as in a
// catalog gathered from several vendors' releases.
constexpr unsigned kCatalogDevices = kInfFiles * kModelsPerInf / 3;

fs::path WorkDir() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (ec ? fs::current_path() : exe.parent_path()) / "bench-match";
}

char Hex(unsigned v) {
  return "0123456789ABCDEF"[v & 15];
}
std::string Hex4(unsigned v) {
  return {Hex(v >> 12), Hex(v >> 8), Hex(v >> 4), Hex(v)};
}

// Device n of the generated catalog: vendor and device ids that repeat
// across packages as real catalogs do (several packages per device).
std::string DeviceId(unsigned n) {
  return "PCI\\VEN_" + Hex4(0x8000 + n / 65521u * 97 + n % 97) + "&DEV_" + Hex4(n * 7919u % 65521u);
}

std::string InfText(int file) {
  std::string t =
      "; generated\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Net\r\nProvider=%P%\r\n";
  t += "DriverVer=" + std::to_string(1 + file % 12) + "/" + std::to_string(1 + file % 28) + "/" +
       std::to_string(2010 + file % 15) + "," + std::to_string(file % 30) + ".0." +
       std::to_string(file) + ".0\r\n";
  if (file % 3 != 0) t += "CatalogFile=pkg" + std::to_string(file) + ".cat\r\n";
  t += "[Manufacturer]\r\n%P%=Models,NTamd64.10.0...16299,NTx86\r\n";
  for (const char* section : {"[Models.NTamd64.10.0...16299]\r\n", "[Models.NTx86]\r\n"}) {
    t += section;
    for (int m = 0; m < kModelsPerInf; ++m) {
      const unsigned dev = static_cast<unsigned>(file * kModelsPerInf + m) % kCatalogDevices;
      t += "%D" + std::to_string(m) + "%=Install" + std::to_string(m) + "," + DeviceId(dev) +
           "&SUBSYS_" + Hex4(dev) + "1028," + DeviceId(dev) + "\r\n";
    }
  }
  t += "[Strings]\r\nP=\"Provider " + std::to_string(file % 50) + "\"\r\n";
  for (int m = 0; m < kModelsPerInf; ++m)
    t += "D" + std::to_string(m) + "=\"Network device " + std::to_string(m) + "\"\r\n";
  return t;
}

std::string Utf16(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

const fs::path& Catalog() {
  static const fs::path dir = [] {
    const fs::path d = WorkDir() / "catalog";
    const fs::path done = WorkDir() / "catalog.complete";
    std::ifstream marker(done);
    int made = 0;
    if (!(marker >> made) || made != kInfFiles) {
      fs::remove_all(d);
      for (int f = 0; f < kInfFiles; ++f) {
        const fs::path p = d / ("vendor" + std::to_string(f % 40)) / ("pkg" + std::to_string(f)) /
                           ("net" + std::to_string(f) + (f % 5 == 0 ? ".INF" : ".inf"));
        fs::create_directories(p.parent_path());
        const std::string text = InfText(f);
        std::ofstream(p, std::ios::binary) << (f % 10 == 0 ? Utf16(text) : text);
      }
      std::ofstream(done) << kInfFiles << "\n";
    }
    return d;
  }();
  return dir;
}

std::string IndexPath() {
  return (WorkDir() / "index.sqlite").string();
}

void BM_IndexFromNothing(benchmark::State& state) {
  const std::string dir = Catalog().string();
  size_t lines = 0;
  for (auto _ : state) {
    fs::remove(IndexPath());
    const catalog::UpdateStats s = catalog::UpdateIndex(IndexPath(), {dir}, nullptr, nullptr);
    lines = s.reread;
  }
  state.counters["inf_files"] = static_cast<double>(lines);
}
// Processor time of every thread: the walk and the reading run on all processors.
BENCHMARK(BM_IndexFromNothing)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

void BM_IndexUnchanged(benchmark::State& state) {
  const std::string dir = Catalog().string();
  catalog::UpdateIndex(IndexPath(), {dir}, nullptr, nullptr);
  for (auto _ : state) {
    benchmark::DoNotOptimize(catalog::UpdateIndex(IndexPath(), {dir}, nullptr, nullptr));
  }
}
// Processor time of every thread: the walk and the reading run on all processors.
BENCHMARK(BM_IndexUnchanged)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// 1 % of the files rewritten (a new date: the same size, a new time) and
// re-indexed.
void BM_IndexOnePercentChanged(benchmark::State& state) {
  const std::string dir = Catalog().string();
  catalog::UpdateIndex(IndexPath(), {dir}, nullptr, nullptr);
  std::vector<fs::path> changed;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (e.is_regular_file() && changed.size() < kInfFiles / 100 &&
        std::hash<std::string>{}(e.path().string()) % 100 == 0) {
      changed.push_back(e.path());
    }
  }
  size_t reread = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (const fs::path& p : changed)
      fs::last_write_time(p, fs::last_write_time(p) + std::chrono::seconds(1));
    state.ResumeTiming();
    reread = catalog::UpdateIndex(IndexPath(), {dir}, nullptr, nullptr).reread;
  }
  state.counters["reread"] = static_cast<double>(reread);
}
// Processor time of every thread: the walk and the reading run on all processors.
BENCHMARK(BM_IndexOnePercentChanged)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// 200 devices with Windows-like id lists; most have packages in the catalog.
match::Report TwoHundredDevices() {
  match::Report r;
  r.computer = {{"Caption", "Microsoft Windows 10 Pro"},
                {"Version", "10.0.19045"},
                {"OSArchitecture", "64bits"}};
  for (int i = 0; i < kDevices; ++i) {
    const unsigned dev = static_cast<unsigned>(i * 977) % kCatalogDevices;
    const std::string base = i % 10 == 9 ? "PCI\\VEN_1AF4&DEV_" + Hex4(i) : DeviceId(dev);
    match::Device d;
    d.name = "Device " + std::to_string(i);
    d.hardware_ids = {base + "&SUBSYS_" + Hex4(dev) + "1028&REV_01",
                      base + "&SUBSYS_" + Hex4(dev) + "1028", base + "&CC_020000",
                      base + "&CC_0200"};
    d.compatible_ids = {base + "&REV_01",
                        base,
                        "PCI\\VEN_8086&CC_020000",
                        "PCI\\VEN_8086&CC_0200",
                        "PCI\\VEN_8086",
                        "PCI\\CC_020000",
                        "PCI\\CC_0200"};
    d.installed = {"oem1.inf", "1.0.0.0", "2015-01-01", "Provider"};
    r.devices.push_back(std::move(d));
  }
  return r;
}

void BM_Match200Devices(benchmark::State& state) {
  catalog::UpdateIndex(IndexPath(), {Catalog().string()}, nullptr, nullptr);
  const catalog::Index index = catalog::Index::Open(IndexPath());
  const match::Report report = TwoHundredDevices();
  size_t candidates = 0;
  for (auto _ : state) {
    const std::vector<match::DeviceResult> results = match::MatchReport(report, index);
    candidates = 0;
    for (const auto& r : results) candidates += r.candidates.size();
    benchmark::DoNotOptimize(candidates);
  }
  state.counters["candidates"] = static_cast<double>(candidates);
}
BENCHMARK(BM_Match200Devices)->Unit(benchmark::kMillisecond);

// The index reads alone, for the share of matching they take.
void BM_LookupIdsOf200Devices(benchmark::State& state) {
  catalog::UpdateIndex(IndexPath(), {Catalog().string()}, nullptr, nullptr);
  const catalog::Index index = catalog::Index::Open(IndexPath());
  std::vector<std::string> ids;
  for (const match::Device& d : TwoHundredDevices().devices) {
    ids.insert(ids.end(), d.hardware_ids.begin(), d.hardware_ids.end());
    ids.insert(ids.end(), d.compatible_ids.begin(), d.compatible_ids.end());
  }
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  for (auto _ : state) benchmark::DoNotOptimize(index.LinesForIds(ids));
  state.counters["ids"] = static_cast<double>(ids.size());
}
BENCHMARK(BM_LookupIdsOf200Devices)->Unit(benchmark::kMillisecond);

void BM_ResultsJsonAndPage200(benchmark::State& state) {
  catalog::UpdateIndex(IndexPath(), {Catalog().string()}, nullptr, nullptr);
  const catalog::Index index = catalog::Index::Open(IndexPath());
  const match::Report report = TwoHundredDevices();
  const auto results = match::MatchReport(report, index);
  for (auto _ : state) {
    benchmark::DoNotOptimize(match::ResultsJson(report, results).dump());
    benchmark::DoNotOptimize(match::ResultsPage(report, results));
  }
}
BENCHMARK(BM_ResultsJsonAndPage200)->Unit(benchmark::kMillisecond);

}  // namespace

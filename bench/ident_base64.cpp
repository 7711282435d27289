// EncodeText throughput on scan-data-like text, at 1, 4 and 16 MiB: the
// time per byte should stay flat as the length grows. The result is wide
// text (4 bytes a character here), so a 16 MiB input makes an 89 MB result
// that comes fresh from the kernel on every call; faults_per_call shows what
// first-touching it costs (a few hundred with huge pages, ~22k without).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "ident/base64.h"

namespace {

std::wstring ScanLikeText(std::size_t chars) {
  const std::wstring line =
      L"\r\ndriver_17=Intel(R) Ethernet Connection I219-LM[;]12.19.1.37[;]Intel[;]"
      L"4-28-2021[;]oem42.inf[;]PCI\\VEN_8086&DEV_15BB&SUBSYS_07B11028[;]Net[;]"
      L"Caf\u00e9 \u00fc\u00df[;]0";
  std::wstring text;
  text.reserve(chars + line.size());
  while (text.size() < chars) text += line;
  text.resize(chars);
  return text;
}

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

void BM_EncodeText(benchmark::State& state) {
  const std::wstring text = ScanLikeText(static_cast<std::size_t>(state.range(0)));
  const long faults_before = MinorFaults();
  for (auto _ : state) {
    std::wstring out = ident::EncodeText(text);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["faults_per_call"] =
      static_cast<double>(MinorFaults() - faults_before) / static_cast<double>(state.iterations());
  // One character is one byte of the report's input.
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EncodeText)->Arg(1 << 20)->Arg(4 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

}  // namespace

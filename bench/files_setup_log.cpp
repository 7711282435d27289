// The setup-log excerpt of the largest log that is still read (3 MiB of
// typical setupapi lines), from memory: the read, the code-page conversion
// and the split. Its cost bounds what the excerpt adds to every scan.
#include <benchmark/benchmark.h>

#include <string>

#include "files/setup_log.h"

namespace {

class MemoryFileSystem : public file::FileSystem {
 public:
  explicit MemoryFileSystem(std::string log) : log_(std::move(log)) {}
  bool Exists(const std::wstring& p) override { return p == kPath; }
  std::string ReadBytes(const std::wstring&) override { return log_; }
  void AppendBytes(const std::wstring&, const std::string&) override {}
  void ReplaceBytes(const std::wstring&, const std::string&) override {}
  std::optional<std::uint64_t> Size(const std::wstring&) override { return log_.size(); }
  void MakePrivateFolder(const std::wstring&) override {}
  std::wstring GetEnv(const std::wstring&) override { return L"C:\\windows"; }
  std::wstring UserDataFolder() override { return L"C:\\data"; }
  std::wstring WorkFolder() override { return L"C:\\temp"; }
  std::wstring DesktopFolder() override { return {}; }
  std::wstring ExecutableFolder() override { return {}; }
  wchar_t Separator() const override { return L'\\'; }
  static constexpr wchar_t kPath[] = L"C:\\windows\\setupapi.log";

 private:
  std::string log_;
};

std::string LargestReadableLog() {
  const std::string line =
      ">>>  [Device Install (Hardware initiated) - PCI\\VEN_8086&DEV_1234&SUBSYS_00000000&REV_01"
      "\\3&11583659&0&10]\r\n";
  std::string log;
  while (log.size() + line.size() <= file::kSetupLogSizeLimit) log += line;
  return log;
}

void BM_GetSetupApiLog3MiB(benchmark::State& state) {
  MemoryFileSystem fs(LargestReadableLog());
  platform::NoMessagePump pump;
  const file::SetupLogSource source = file::WindowsSetupLogs(fs);
  for (auto _ : state) benchmark::DoNotOptimize(file::ReadSetupLogExcerpt(fs, pump, source));
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs.Size(L"").value()));
}
BENCHMARK(BM_GetSetupApiLog3MiB)->Unit(benchmark::kMillisecond);

}  // namespace

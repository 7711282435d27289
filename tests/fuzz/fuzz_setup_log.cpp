// A setup log of any content, line ends and encoding, cut to its excerpt.
#include <cstdint>
#include <string>

#include "fakes/fake_file_system.h"
#include "files/setup_log.h"
#include "fuzz_input.h"

namespace {
struct NoPump : platform::MessagePump {
  void PumpPending() override {}
  void SetWaitCursor(bool) override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  fakes::FakeFileSystem fs;
  const std::wstring path = L"C:\\windows\\setupapi.log";
  fs.files[path] = std::string(reinterpret_cast<const char*>(data) + 1, size - 1);
  file::SetupLogSource source{{L"C:\\missing.log", path}, (data[0] & 1) != 0, (data[0] & 2) != 0};
  NoPump pump;
  const std::wstring excerpt = file::ReadSetupLogExcerpt(fs, pump, source);
  // At most the last 20 lines, each after its CR LF.
  std::size_t lines = 0;
  for (std::size_t at = excerpt.find(L"\r\n"); at != std::wstring::npos;
       at = excerpt.find(L"\r\n", at + 2)) {
    ++lines;
  }
  fuzz::Require(lines <= file::kSetupLogLines || excerpt == file::kNoSetupLogText);
  fuzz::Require(excerpt.empty() || excerpt.substr(0, 2) == L"\r\n" ||
                excerpt == file::kNoSetupLogText);
  return 0;
}

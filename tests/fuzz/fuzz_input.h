// Helpers shared by the fuzz targets.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fuzz {

// One input split into `count` fields at the record separator (0x1E), so a
// single input can fill several files or values. Missing fields are empty;
// the last field takes the rest.
inline std::vector<std::string> Fields(const std::uint8_t* data, std::size_t size,
                                       std::size_t count) {
  std::vector<std::string> out(count);
  const std::string all(reinterpret_cast<const char*>(data), size);
  std::size_t at = 0;
  for (std::size_t i = 0; i < count && at <= all.size(); ++i) {
    const std::size_t end = i + 1 == count ? std::string::npos : all.find('\x1e', at);
    out[i] = all.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return out;
}

// A private scratch folder for this process, removed when it exits.
inline const std::filesystem::path& Scratch() {
  static const std::filesystem::path dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::filesystem::path d = std::filesystem::path(tmp && *tmp ? tmp : "/tmp") /
                              ("kestrova-fuzz-" + std::to_string(::getpid()));
    std::filesystem::remove_all(d);
    std::filesystem::create_directories(d);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(Scratch(), ec);
    });
    return d;
  }();
  return dir;
}

inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// A check that holds for every input; a failure is a finding.
inline void Require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace fuzz

// Everything the Linux adapters read lives under one root folder: "/" on a
// running system, a fixture tree in tests (environment KESTROVA_SYSROOT).
#pragma once

#include <filesystem>
#include <string>

namespace platform {

// KESTROVA_SYSROOT when set and not empty, else "/": the one place that
// reads it.
std::filesystem::path SysRoot();

// `absolute` ("/sys/bus/pci") placed under `root`.
std::filesystem::path Under(const std::filesystem::path& root, const std::string& absolute);

}  // namespace platform

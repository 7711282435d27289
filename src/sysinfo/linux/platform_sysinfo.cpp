// Linux composition: the real files, under KESTROVA_SYSROOT when it is set.
#include "sysinfo/platform_sysinfo.h"

#include <cstdlib>

#include "sysinfo/linux/linux_wmi.h"

namespace sysinfo {
namespace {

std::filesystem::path SystemRoot() {
  const char* root = std::getenv("KESTROVA_SYSROOT");
  return root != nullptr && *root != '\0' ? std::filesystem::path(root)
                                          : std::filesystem::path("/");
}

}  // namespace

std::unique_ptr<Wmi> MakeWmi() {
  return std::make_unique<LinuxWmi>(SystemRoot());
}

std::unique_ptr<SystemProbe> MakeSystemProbe() {
  return std::make_unique<LinuxSystemProbe>(SystemRoot());
}

}  // namespace sysinfo

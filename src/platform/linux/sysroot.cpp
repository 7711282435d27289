#include "platform/linux/sysroot.h"

#include <cstdlib>

namespace platform {

std::filesystem::path SysRoot() {
  const char* set = std::getenv("KESTROVA_SYSROOT");
  return std::filesystem::path(set != nullptr && *set != '\0' ? set : "/");
}

std::filesystem::path Under(const std::filesystem::path& root, const std::string& absolute) {
  return root / std::filesystem::path(absolute).relative_path();
}

}  // namespace platform

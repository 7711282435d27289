#include "platform/linux/xdg_folders.h"

#include <cstdlib>

namespace platform {

std::string XdgFolder(const char* variable, const char* under_home) {
  const char* set = std::getenv(variable);
  if (set != nullptr && *set != '\0') return set;
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') return {};
  return std::string(home) + "/" + under_home;
}

}  // namespace platform

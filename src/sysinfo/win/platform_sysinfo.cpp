// Windows composition: WMI over COM and kernel32.
#include "sysinfo/platform_sysinfo.h"

#include "sysinfo/win/win_wmi.h"

namespace sysinfo {

std::unique_ptr<Wmi> MakeWmi() {
  return std::make_unique<WinWmi>();
}

std::unique_ptr<SystemProbe> MakeSystemProbe() {
  return std::make_unique<WinSystemProbe>();
}

}  // namespace sysinfo

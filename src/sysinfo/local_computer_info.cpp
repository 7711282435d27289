#include "sysinfo/computer_info.h"
#include "sysinfo/platform_sysinfo.h"

namespace sysinfo {

std::wstring CollectLocalComputerInfo(InfoUi& ui) {
  std::unique_ptr<Wmi> wmi = MakeWmi();
  std::unique_ptr<SystemProbe> probe = MakeSystemProbe();
  return CollectComputerInfo(*wmi, *probe, ui);
}

}  // namespace sysinfo

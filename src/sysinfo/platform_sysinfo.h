// The real WMI and system probe of the platform being built (Windows: COM
// and kernel32; Linux: DMI, /proc and /etc answered as the same classes).
#pragma once

#include <memory>
#include <string>

#include "sysinfo/info_ui.h"
#include "sysinfo/system_probe.h"
#include "sysinfo/wmi.h"

namespace sysinfo {

std::unique_ptr<Wmi> MakeWmi();
std::unique_ptr<SystemProbe> MakeSystemProbe();

// CollectComputerInfo with this platform's real WMI and probe.
std::wstring CollectLocalComputerInfo(InfoUi& ui);

}  // namespace sysinfo

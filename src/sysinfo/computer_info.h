// The computer information block of a scan (BIOS, operating system,
// architecture, product, model), the product SKU lookups and the 64-bit check.
#pragma once

#include <string>

#include "sysinfo/info_ui.h"
#include "sysinfo/system_probe.h"
#include "sysinfo/wmi.h"

namespace sysinfo {

inline constexpr wchar_t kCimv2Moniker[] = L"winmgmts:\\\\.\\root\\cimv2";

// The block: lines "label=value", each preceded by CR LF; empty when nothing
// could be read. Shows "Getting Hardware Info" first and lets `ui` process
// pending messages while it works. Never fails: what can't be read is left out.
std::wstring CollectComputerInfo(Wmi& wmi, SystemProbe& probe, InfoUi& ui);

// Family, version and SKU from the firmware's system information
// (root\WMI MS_SystemInformation); empty on any failure.
std::wstring GetSystemInformationSku(Wmi& wmi);

// Version and SKU number of the computer's product record
// (root\CIMV2 Win32_ComputerSystemProduct), spaces trimmed; empty on any failure.
std::wstring GetComputerProductSku(Wmi& wmi);

// True when the program runs on 64-bit Windows (under WOW64).
bool Is64BitWindows(SystemProbe& probe);

}  // namespace sysinfo

// The computer information block of a scan (BIOS, operating system,
// architecture, product, model), the product SKU lookups and the 64-bit check.
#pragma once

#include <string>

#include "sysinfo/computer_facts.h"
#include "sysinfo/info_ui.h"
#include "sysinfo/win/procedures/system_probe.h"
#include "sysinfo/win/procedures/wmi.h"

namespace sysinfo {

inline constexpr wchar_t kCimv2Moniker[] = L"winmgmts:\\\\.\\root\\cimv2";

// The computer's facts from WMI (root\cimv2, and root\WMI for the SKU) and
// the WOW64 check; lets `ui` process pending messages while it works. Never
// fails: what can't be read is left out.
ComputerFacts ReadComputerFacts(Wmi& wmi, SystemProbe& probe, InfoUi& ui);

// Shows "Getting Hardware Info", then the block of those facts.
std::wstring CollectComputerInfo(Wmi& wmi, SystemProbe& probe, InfoUi& ui);

// The facts source over the two seams; both must outlive it.
class WmiComputerFacts : public ComputerFactsSource {
 public:
  WmiComputerFacts(Wmi& wmi, SystemProbe& probe, InfoUi& ui) : wmi_(wmi), probe_(probe), ui_(ui) {}
  ComputerFacts Read() override { return ReadComputerFacts(wmi_, probe_, ui_); }

 private:
  Wmi& wmi_;
  SystemProbe& probe_;
  InfoUi& ui_;
};

// Family, version and SKU from the firmware's system information
// (root\WMI MS_SystemInformation); empty on any failure.
std::wstring GetSystemInformationSku(Wmi& wmi);

// Version and SKU number of the computer's product record
// (root\CIMV2 Win32_ComputerSystemProduct), spaces trimmed; empty on any failure.
std::wstring GetComputerProductSku(Wmi& wmi);

// True when the program runs on 64-bit Windows (under WOW64).
bool Is64BitWindows(SystemProbe& probe);

}  // namespace sysinfo

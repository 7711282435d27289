// WMI's classes answered from what Linux publishes, every file read under a
// root folder ("/" on a live system, a fixture tree in tests):
//   Win32_BIOS, Win32_ComputerSystemProduct, Win32_ComputerSystem and
//   root\WMI MS_SystemInformation from DMI (sys/class/dmi/id), no items
//   without DMI; Win32_OperatingSystem from etc/os-release, proc/sys/kernel
//   and the process's address-space limit.
// Files that exist but can't be read (root-only DMI serial numbers) are null
// values. Nothing is cached: every query reads the files again.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "sysinfo/system_probe.h"
#include "sysinfo/wmi.h"

namespace sysinfo {

class LinuxWmi : public Wmi {
 public:
  explicit LinuxWmi(std::filesystem::path root) : root_(std::move(root)) {}
  // Accepts "winmgmts:\\.\root\cimv2" and "winmgmts:\\.\root\WMI", any case.
  std::unique_ptr<WmiConnection> Connect(const std::wstring& moniker) override;

 private:
  std::filesystem::path root_;
};

// Answers the 64-bit question for the running kernel: there is no WOW64
// layer, so the "lookup" always succeeds and the flag says whether the
// kernel's machine is a 64-bit one.
class LinuxSystemProbe : public SystemProbe {
 public:
  explicit LinuxSystemProbe(std::filesystem::path root) : root_(std::move(root)) {}
  bool FindIsWow64Process() override { return true; }
  bool CallIsWow64Process(std::int32_t& flag) override;

 private:
  std::filesystem::path root_;
};

// The kernel's machine name (proc/sys/kernel/arch under root, else uname).
std::string KernelMachine(const std::filesystem::path& root);
bool IsMachine64Bit(const std::string& machine);

// The value of one key of an os-release file, unquoted; empty optional when
// the key is absent.
std::optional<std::string> OsReleaseValue(const std::string& text, const std::string& key);

}  // namespace sysinfo

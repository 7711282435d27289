// The computer's facts as Linux publishes them, every file read under a root
// folder ("/" on a live system, a fixture tree in tests): BIOS, product and
// model from DMI (sys/class/dmi/id), none of them without DMI; the operating
// system from etc/os-release, proc/sys/kernel and the process's
// address-space limit. Files that exist but can't be read (root-only DMI
// serial numbers) are empty values. Nothing is cached.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "sysinfo/computer_facts.h"

namespace sysinfo {

ComputerFacts ReadLinuxComputerFacts(const std::filesystem::path& root);

class LinuxComputerFacts : public ComputerFactsSource {
 public:
  explicit LinuxComputerFacts(std::filesystem::path root) : root_(std::move(root)) {}
  ComputerFacts Read() override { return ReadLinuxComputerFacts(root_); }

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

// Device names from the system's id databases: the udev hardware database
// sources (hwdb.d/*.hwdb) or, where those are missing, pci.ids and usb.ids.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace devices::linux_sys {

class IdNames {
 public:
  explicit IdNames(std::filesystem::path root) : root_(std::move(root)) {}

  // Register what will be asked, then Load() once, then ask.
  void WantPci(std::uint16_t vendor, std::uint16_t device);
  void WantUsb(std::uint16_t vendor, std::uint16_t product);
  void Load();

  // The model name; "" when unknown. (Subsystem entries name the board
  // maker's product, not the chip Windows names.)
  std::string Pci(std::uint16_t vendor, std::uint16_t device) const;
  std::string Usb(std::uint16_t vendor, std::uint16_t product) const;

 private:
  bool LoadHwdb(const std::string& file);
  void LoadIds(const std::string& file, bool usb);

  std::filesystem::path root_;
  std::set<std::string> wanted_;              // hwdb match keys
  std::map<std::string, std::string> names_;  // hwdb match key -> model
};

}  // namespace devices::linux_sys

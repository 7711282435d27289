// Device names from the system's id databases: the udev hardware database
// sources (hwdb.d/*.hwdb) or, where those are missing, pci.ids and usb.ids.
//
// A scan asks for a handful of names out of databases of tens of thousands,
// so nothing is parsed whole: the first database found for a bus is mapped,
// each wanted vendor is found by bisection (the databases are kept in vendor
// order) and only that vendor's lines are read. A bus nobody asked about is
// never opened.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
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

  // The database Load() read for each bus (as an absolute path on the
  // system, without the root); empty when none was read.
  const std::string& pci_database() const { return pci_.database; }
  const std::string& usb_database() const { return usb_.database; }

 private:
  using Id = std::pair<std::uint16_t, std::uint16_t>;  // vendor, device
  struct Bus {
    std::map<Id, std::string> names;  // wanted ids; "" until found
    std::string database;
  };
  void LoadBus(Bus& bus, bool usb);

  std::filesystem::path root_;
  Bus pci_;
  Bus usb_;
};

}  // namespace devices::linux_sys

// The disk port on Linux. "\\.\PhysicalDriveN" opens the N-th fixed
// (non-removable) disk of <root>/sys/block in name order; the IDENTIFY
// request is answered by the disk itself through SG_IO ATA PASS-THROUGH
// where it speaks ATA, else from the IDENTIFY copy the kernel publishes for
// SATA disks, else from the model, serial number and firmware revision
// sysfs publishes, else not at all (the reply stays zero).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ident/disk_port.h"
#include "ident/hdsn.h"

namespace ident {

using IdentifyBlock = std::array<std::uint8_t, kIdentifyBlockSize>;

// Names of the fixed disks under <root>/sys/block, in name order (runs of
// digits compare by value, so nvme2n1 comes before nvme10n1).
std::vector<std::string> FixedDisks(const std::string& root);

// An IDENTIFY block holding just these strings in their ATA word positions,
// high byte first, space-padded; a string longer than its field is cut. An
// empty string leaves its field zero, so all three empty give a zero block.
// The strings are in the ANSI code page.
IdentifyBlock BuildIdentifyBlock(const std::string& model, const std::string& serial,
                                 const std::string& firmware);

class LinuxDiskPort : public DiskPort {
 public:
  explicit LinuxDiskPort(std::string root = "/");

  OsVersion GetVersionExA() override;
  DiskHandle CreateFileA(const std::string& name, OpenMode mode) override;
  void DeviceIoControl(DiskHandle handle, std::uint32_t control_code,
                       std::span<const std::uint8_t> request,
                       std::span<std::uint8_t> reply) override;
  void CloseHandle(DiskHandle handle) override;

  // The IDENTIFY block of the disk named `disk` ("sda", "nvme0n1"), by the
  // first of the sources above that answers; nothing when none does.
  std::optional<IdentifyBlock> ReadIdentifyBlock(const std::string& disk) const;

 private:
  std::string root_;
  std::map<DiskHandle, std::string> open_disks_;
  DiskHandle next_handle_ = 1;
};

}  // namespace ident

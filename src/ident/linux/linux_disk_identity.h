// The system disk's identity on Linux: the first fixed (non-removable) disk
// of <root>/sys/block in name order. Its strings come from the disk itself
// through SG_IO ATA PASS-THROUGH where it speaks ATA, else from the IDENTIFY
// copy the kernel publishes for SATA disks, else from the model, serial
// number and firmware revision sysfs publishes, else not at all.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ident/ata_identify.h"
#include "ident/disk_identity.h"

namespace ident {

// Names of the fixed disks under <root>/sys/block, in name order (runs of
// digits compare by value, so nvme2n1 comes before nvme10n1).
std::vector<std::string> FixedDisks(const std::string& root);

// The field widths of an IDENTIFY block, in characters, that published
// strings are cut to, as the disk itself would answer.
inline constexpr std::size_t kModelChars = 40;
inline constexpr std::size_t kSerialChars = 20;
inline constexpr std::size_t kFirmwareChars = 8;

class LinuxDiskIdentity : public DiskIdentitySource {
 public:
  explicit LinuxDiskIdentity(std::string root = "/") : root_(std::move(root)) {}
  std::optional<DiskIdentity> SystemDisk() override;

  // The identity of the disk named `disk` ("sda", "nvme0n1"), by the first
  // of the sources above that answers; nothing when none does.
  std::optional<DiskIdentity> IdentityOf(const std::string& disk) const;

 private:
  std::string root_;
};

}  // namespace ident

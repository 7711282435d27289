#include "ident/disk_identity.h"

namespace ident {

std::wstring HardwareId(DiskIdentitySource& disks) {
  std::optional<DiskIdentity> disk = disks.SystemDisk();
  if (!disk || disk->serial.empty()) return kFallbackHardwareId;
  return disk->serial;
}

}  // namespace ident

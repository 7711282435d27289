// The disk port: the identity of the computer's system disk (model, serial
// number, firmware revision), as each platform finds it; and the hardware id
// the report carries, made from it.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace ident {

struct DiskIdentity {
  std::wstring model;
  std::wstring serial;
  std::wstring firmware;
};

class DiskIdentitySource {
 public:
  virtual ~DiskIdentitySource() = default;
  // The first fixed disk's identity; nothing when there is no such disk or
  // it tells nothing.
  virtual std::optional<DiskIdentity> SystemDisk() = 0;
};

// The hardware id when no disk serial number can be read.
inline constexpr wchar_t kFallbackHardwareId[] = L"123456";

// The system disk's serial number, or the fallback.
std::wstring HardwareId(DiskIdentitySource& disks);

// This platform's source.
std::unique_ptr<DiskIdentitySource> MakeDiskIdentitySource();

}  // namespace ident

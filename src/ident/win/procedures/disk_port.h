// The disk port: the few system calls the disk identity reader makes, at the
// level of the Windows calls (version query, open a device by name, one
// device I/O control with raw request/reply blocks, close). The request and
// reply blocks are built and decoded by the portable reader, so adapters only
// move bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace ident {

// The values the reader takes from GetVersionExA; both zero when the call
// filled nothing.
struct OsVersion {
  std::uint32_t platform_id = 0;
  std::uint32_t minor_version = 0;
};

// An opened device. Zero and kInvalidDiskHandle are what CreateFileA returns
// for "nothing opened" (the latter is INVALID_HANDLE_VALUE).
using DiskHandle = std::uintptr_t;
inline constexpr DiskHandle kInvalidDiskHandle = ~DiskHandle{0};

// How a device is opened.
enum class OpenMode {
  // GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
  // OPEN_EXISTING: a physical drive on the NT family.
  kReadWriteExisting,
  // Access 0, share 0, CREATE_NEW: the SMART driver device on Windows 95/98.
  kCreateNewNoAccess,
  // Access 0, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING: a volume or
  // disk asked only for its description, which a limited user may do.
  kQueryOnlyExisting,
};

class DiskPort {
 public:
  virtual ~DiskPort() = default;

  virtual OsVersion GetVersionExA() = 0;
  // GetSystemWindowsDirectoryA's answer, e.g. "C:\WINDOWS"; "" when it failed.
  virtual std::string GetSystemWindowsDirectoryA() = 0;
  // `name` is the device name in the ANSI code page, e.g. "\\.\PhysicalDrive0".
  virtual DiskHandle CreateFileA(const std::string& name, OpenMode mode) = 0;
  // Sends `request` and lets the device fill `reply`. The number of bytes
  // the device returned, or -1 when the call failed; a request the device
  // rejects leaves `reply` as it was.
  virtual std::int64_t DeviceIoControl(DiskHandle handle, std::uint32_t control_code,
                                       std::span<const std::uint8_t> request,
                                       std::span<std::uint8_t> reply) = 0;
  virtual void CloseHandle(DiskHandle handle) = 0;
};

}  // namespace ident

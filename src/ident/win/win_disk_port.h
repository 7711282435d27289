// The disk port on Windows: a direct pass-through to the kernel calls.
#pragma once

#include "ident/win/procedures/disk_port.h"

namespace ident {

class WinDiskPort : public DiskPort {
 public:
  OsVersion GetVersionExA() override;
  std::string GetSystemWindowsDirectoryA() override;
  DiskHandle CreateFileA(const std::string& name, OpenMode mode) override;
  std::int64_t DeviceIoControl(DiskHandle handle, std::uint32_t control_code,
                               std::span<const std::uint8_t> request,
                               std::span<std::uint8_t> reply) override;
  void CloseHandle(DiskHandle handle) override;
};

}  // namespace ident

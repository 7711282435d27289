#include "ident/win/win_disk_port.h"

#include <windows.h>

#include <memory>

#include "ident/win/procedures/hdsn.h"

namespace ident {

static_assert(sizeof(OSVERSIONINFOA) == 148);

OsVersion WinDiskPort::GetVersionExA() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(info);
  // Deprecated, but it is the call that tells the 9x family from NT; a
  // record it leaves untouched reads as platform 0.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ::GetVersionExA(&info);
#pragma GCC diagnostic pop
  return {info.dwPlatformId, info.dwMinorVersion};
}

std::string WinDiskPort::GetSystemWindowsDirectoryA() {
  char folder[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemWindowsDirectoryA(folder, MAX_PATH + 1);
  return length == 0 || length > MAX_PATH ? std::string() : std::string(folder, length);
}

DiskHandle WinDiskPort::CreateFileA(const std::string& name, OpenMode mode) {
  HANDLE h;
  if (mode == OpenMode::kReadWriteExisting) {
    h = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  } else if (mode == OpenMode::kQueryOnlyExisting) {
    h = ::CreateFileA(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      0, nullptr);
  } else {
    h = ::CreateFileA(name.c_str(), 0, 0, nullptr, CREATE_NEW, 0, nullptr);
  }
  return reinterpret_cast<DiskHandle>(h);
}

std::int64_t WinDiskPort::DeviceIoControl(DiskHandle handle, std::uint32_t control_code,
                                          std::span<const std::uint8_t> request,
                                          std::span<std::uint8_t> reply) {
  DWORD returned = 0;
  const BOOL done = ::DeviceIoControl(reinterpret_cast<HANDLE>(handle), control_code,
                                      const_cast<std::uint8_t*>(request.data()),
                                      static_cast<DWORD>(request.size()), reply.data(),
                                      static_cast<DWORD>(reply.size()), &returned, nullptr);
  return done ? static_cast<std::int64_t>(returned) : -1;
}

void WinDiskPort::CloseHandle(DiskHandle handle) {
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

namespace {

// The real seam, owned with the reader that uses it.
class WinDiskIdentity : public DiskIdentitySource {
 public:
  std::optional<DiskIdentity> SystemDisk() override {
    WinDiskPort port;
    return HdsnDiskIdentity(port).SystemDisk();
  }
};

}  // namespace

std::unique_ptr<DiskIdentitySource> MakeDiskIdentitySource() {
  return std::make_unique<WinDiskIdentity>();
}

}  // namespace ident

#include "ident/win/procedures/storage_identity.h"

#include <array>
#include <vector>

#include "platform/codepage.h"
#include "platform/text.h"

namespace ident {
namespace {

// Closes an opened device however the read ends.
class Closer {
 public:
  Closer(DiskPort& disk, DiskHandle handle) : disk_(disk), handle_(handle) {}
  ~Closer() { disk_.CloseHandle(handle_); }
  Closer(const Closer&) = delete;
  Closer& operator=(const Closer&) = delete;

 private:
  DiskPort& disk_;
  DiskHandle handle_;
};

std::uint32_t Dword(std::span<const std::uint8_t> bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

bool IsOpened(DiskHandle handle) {
  return handle != 0 && handle != kInvalidDiskHandle;
}

// The NUL-terminated string at `offset` of the descriptor, "" for offset 0
// (the device has none) or one outside the reply.
std::string StringAt(std::span<const std::uint8_t> reply, std::uint32_t offset) {
  if (offset == 0 || offset >= reply.size()) return {};
  std::string text;
  for (std::size_t i = offset; i < reply.size() && reply[i] != 0; ++i) {
    text.push_back(static_cast<char>(reply[i]));
  }
  return text;
}

std::wstring Trimmed(const std::string& ansi) {
  return std::wstring(platform::TrimSpaces(platform::FromAnsi(ansi)));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// VOLUME_DISK_EXTENTS: a count, then DISK_EXTENTs of 24 bytes from offset 8
// (DiskNumber, then two 64-bit values). Room for several, for a volume that
// spans disks.
constexpr std::size_t kExtentsReplySize = 8 + 24 * 16;
// STORAGE_PROPERTY_QUERY: StorageDeviceProperty (0), PropertyStandardQuery
// (0), one byte of additional parameters, padded.
constexpr std::array<std::uint8_t, 12> kDevicePropertyQuery{};
constexpr std::size_t kDescriptorReplySize = 1024;
constexpr std::size_t kDescriptorFixedSize = 36;

}  // namespace

std::optional<std::uint32_t> SystemDiskNumber(DiskPort& disk, const std::string& windows_folder) {
  if (windows_folder.size() < 2 || windows_folder[1] != ':') return std::nullopt;
  const char letter = windows_folder[0];
  if (!((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z'))) return std::nullopt;
  const DiskHandle volume = disk.CreateFileA(std::string("\\\\.\\") + windows_folder[0] + ':',
                                             OpenMode::kQueryOnlyExisting);
  if (!IsOpened(volume)) return std::nullopt;
  Closer closer(disk, volume);
  std::vector<std::uint8_t> reply(kExtentsReplySize);
  const std::int64_t returned =
      disk.DeviceIoControl(volume, kIoctlVolumeGetVolumeDiskExtents, {}, reply);
  if (returned < 8 + 4 || Dword(reply, 0) == 0) return std::nullopt;
  return Dword(reply, 8);
}

std::string DecodeHexSerial(const std::string& text) {
  constexpr std::size_t kSerialFieldBytes = 20;
  if (text.size() != 2 * kSerialFieldBytes) return text;
  std::string bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return text;
    bytes.push_back(static_cast<char>(high << 4 | low));
  }
  // ATA strings hold their first character in each word's high byte.
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
  // A NUL ends the string early, as in the IDENTIFY decoding.
  bytes = bytes.substr(0, bytes.find('\0'));
  for (char c : bytes) {
    if (c < 0x20 || c > 0x7E) return text;  // not text: a hex serial of its own
  }
  return bytes;
}

DiskIdentity DecodeStorageDescriptor(std::span<const std::uint8_t> reply) {
  if (reply.size() < kDescriptorFixedSize) return {};
  // Only what the descriptor says it filled counts.
  const std::uint32_t size = Dword(reply, 4);
  if (size < reply.size()) reply = reply.first(size);
  if (reply.size() < kDescriptorFixedSize) return {};
  return {Trimmed(StringAt(reply, Dword(reply, 16))),
          Trimmed(DecodeHexSerial(StringAt(reply, Dword(reply, 24)))),
          Trimmed(StringAt(reply, Dword(reply, 20)))};
}

std::optional<DiskIdentity> ReadStorageIdentity(DiskPort& disk) {
  const std::optional<std::uint32_t> number =
      SystemDiskNumber(disk, disk.GetSystemWindowsDirectoryA());
  if (!number) return std::nullopt;
  const DiskHandle drive = disk.CreateFileA("\\\\.\\PhysicalDrive" + std::to_string(*number),
                                            OpenMode::kQueryOnlyExisting);
  if (!IsOpened(drive)) return std::nullopt;
  Closer closer(disk, drive);
  std::vector<std::uint8_t> reply(kDescriptorReplySize);
  const std::int64_t returned =
      disk.DeviceIoControl(drive, kIoctlStorageQueryProperty, kDevicePropertyQuery, reply);
  if (returned < static_cast<std::int64_t>(kDescriptorFixedSize)) return std::nullopt;
  reply.resize(static_cast<std::size_t>(returned));
  return DecodeStorageDescriptor(reply);
}

}  // namespace ident

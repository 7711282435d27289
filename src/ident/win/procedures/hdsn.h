// HDSN reads the identity strings of a fixed disk (model number, serial
// number, firmware revision) from its ATA IDENTIFY DEVICE block, fetched
// through the SMART driver interface of the disk port.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "ident/ata_identify.h"
#include "ident/win/procedures/disk_port.h"

namespace ident {

// SMART_RCV_DRIVE_DATA, the device I/O control that carries the request.
inline constexpr std::uint32_t kSmartRcvDriveData = 0x7C088;
// SENDCMDINPARAMS without its trailing one-byte buffer.
inline constexpr std::size_t kRequestSize = 32;
// SENDCMDOUTPARAMS header (cBufferSize + DRIVERSTATUS) before the data.
inline constexpr std::size_t kReplyHeaderSize = 16;
inline constexpr std::size_t kReplySize = kReplyHeaderSize + kIdentifyBlockSize;

// Byte offsets inside the request block.
namespace request_offset {
inline constexpr std::size_t kBufferSize = 0;
inline constexpr std::size_t kFeatures = 4;
inline constexpr std::size_t kSectorCount = 5;
inline constexpr std::size_t kSectorNumber = 6;
inline constexpr std::size_t kCylLow = 7;
inline constexpr std::size_t kCylHigh = 8;
inline constexpr std::size_t kDriveHead = 9;
inline constexpr std::size_t kCommand = 10;
inline constexpr std::size_t kDriveNumber = 12;
}  // namespace request_offset

// The SENDCMDINPARAMS block asking drive `drive` for its IDENTIFY data.
std::array<std::uint8_t, kRequestSize> BuildIdentifyRequest(std::uint8_t drive);

// "WNT", "W95", "W98", "32S" or "Unk" for what GetVersionExA reported.
std::wstring PlatformCode(const OsVersion& version);

class HDSN {
 public:
  // Detects the platform once (Class_Initialize). `disk` must outlive the
  // object.
  explicit HDSN(DiskPort& disk);

  std::wstring Copyright() const;
  std::wstring GetModelNumber();
  std::wstring GetSerialNumber();
  std::wstring GetFirmwareRevision();
  // 0 to 3; a greater value raises error 10000 and changes nothing.
  void CurrentDrive(std::uint8_t vData);
  std::uint8_t CurrentDrive() const { return current_drive_; }
  std::wstring Platform() const { return platform_; }

 protected:
  // Opens the device, sends one IDENTIFY request, decodes field `kind`,
  // closes. A device that cannot be opened, or that leaves the reply empty,
  // gives the empty string.
  std::wstring ReadIdentifyField(std::int32_t kind);

 public:
  // All three strings of the current drive, from one IDENTIFY request.
  DiskIdentity ReadIdentity();

 private:
  IdentifyBlock ReadIdentifyBlock();

 private:
  void Class_Initialize();

  DiskPort& disk_;
  std::uint8_t current_drive_ = 0;
  std::wstring platform_;
};

// The serial number of disk 0, or "123456" when none can be read. Errors
// the reader raises (an unsupported platform) pass through.
std::wstring GetHardwareId(DiskPort& disk);

// The disk identity source over the disk seam: drive 0 through the SMART
// driver interface; when that gives no serial number on the NT family, the
// system disk's storage description. `disk` must outlive it.
class HdsnDiskIdentity : public DiskIdentitySource {
 public:
  explicit HdsnDiskIdentity(DiskPort& disk) : disk_(disk) {}
  std::optional<DiskIdentity> SystemDisk() override;

 private:
  DiskPort& disk_;
};

}  // namespace ident

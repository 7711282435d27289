#include "ident/win/procedures/hdsn.h"

#include <algorithm>

#include "ident/ident_error.h"
#include "ident/win/procedures/storage_identity.h"
#include "platform/codepage.h"

namespace ident {
namespace {

// Closes an opened device however the read ends.
class CloseOnExit {
 public:
  CloseOnExit(DiskPort& disk, DiskHandle handle) : disk_(disk), handle_(handle) {}
  ~CloseOnExit() { disk_.CloseHandle(handle_); }
  CloseOnExit(const CloseOnExit&) = delete;
  CloseOnExit& operator=(const CloseOnExit&) = delete;

 private:
  DiskPort& disk_;
  DiskHandle handle_;
};

}  // namespace

std::array<std::uint8_t, kRequestSize> BuildIdentifyRequest(std::uint8_t drive) {
  namespace off = request_offset;
  std::array<std::uint8_t, kRequestSize> r{};
  // cBufferSize, little-endian.
  r[off::kBufferSize] = kIdentifyBlockSize & 0xFF;
  r[off::kBufferSize + 1] = (kIdentifyBlockSize >> 8) & 0xFF;
  r[off::kSectorCount] = 1;
  r[off::kSectorNumber] = 1;
  // Master or slave on the channel, by the drive number's low bit.
  r[off::kDriveHead] = (drive & 1) ? 0xB0 : 0xA0;
  r[off::kCommand] = kAtaIdentifyDevice;
  r[off::kDriveNumber] = drive;
  return r;
}

std::wstring PlatformCode(const OsVersion& version) {
  switch (version.platform_id) {
    case 0:
      return L"32S";
    case 1:
      return version.minor_version != 0 ? L"W98" : L"W95";
    case 2:
      return L"WNT";
    default:
      return L"Unk";
  }
}

HDSN::HDSN(DiskPort& disk) : disk_(disk) {
  Class_Initialize();
}

void HDSN::Class_Initialize() {
  platform_ = PlatformCode(disk_.GetVersionExA());
}

std::wstring HDSN::Copyright() const {
  return L"HDSN disk identity reader, version 1.00";
}

std::wstring HDSN::GetModelNumber() {
  return ReadIdentifyField(kModelNumber);
}
std::wstring HDSN::GetSerialNumber() {
  return ReadIdentifyField(kSerialNumber);
}
std::wstring HDSN::GetFirmwareRevision() {
  return ReadIdentifyField(kFirmwareRevision);
}

void HDSN::CurrentDrive(std::uint8_t vData) {
  if (vData > 3) throw IdentError(10000, L"Illegal drive number", L"");
  current_drive_ = vData;
}

std::wstring HDSN::ReadIdentifyField(std::int32_t kind) {
  const WordRange words = IdentifyFieldWords(kind);
  return DecodeIdentifyString(ReadIdentifyBlock(), words);
}

DiskIdentity HDSN::ReadIdentity() {
  return DecodeIdentity(ReadIdentifyBlock());
}

IdentifyBlock HDSN::ReadIdentifyBlock() {
  DiskHandle handle;
  if (platform_ == L"WNT") {
    handle = disk_.CreateFileA("\\\\.\\PhysicalDrive" + std::to_string(current_drive_),
                               OpenMode::kReadWriteExisting);
  } else if (platform_ == L"W95" || platform_ == L"W98") {
    handle = disk_.CreateFileA("\\\\.\\Smartvsd", OpenMode::kCreateNewNoAccess);
  } else {
    throw IdentError(10002, L"Illegal platform (only WNT, W98 or W95)", L"");
  }
  if (handle == 0) throw IdentError(10003, L"Error on CreateFile", L"");
  // A drive that does not exist or may not be opened (no administrator
  // rights) has no identity to read; sending the request on the failed
  // handle would achieve nothing.
  if (handle == kInvalidDiskHandle) return {};

  CloseOnExit closer(disk_, handle);
  const auto request = BuildIdentifyRequest(current_drive_);
  std::array<std::uint8_t, kReplySize> reply{};
  disk_.DeviceIoControl(handle, kSmartRcvDriveData, request, reply);
  // Rejected requests leave the reply zero, which decodes as empty.
  IdentifyBlock block;
  std::copy_n(reply.begin() + kReplyHeaderSize, kIdentifyBlockSize, block.begin());
  return block;
}

std::wstring GetHardwareId(DiskPort& disk) {
  HdsnDiskIdentity source(disk);
  return HardwareId(source);
}

std::optional<DiskIdentity> HdsnDiskIdentity::SystemDisk() {
  HDSN reader(disk_);
  DiskIdentity identity = reader.ReadIdentity();
  // SMART needs an administrator and an ATA disk; the storage description
  // needs neither, so a limited user and NVMe, USB or RAID disks still give
  // the system disk's serial number.
  if (identity.serial.empty() && reader.Platform() == L"WNT") {
    if (std::optional<DiskIdentity> described = ReadStorageIdentity(disk_)) {
      if (!described->serial.empty()) return described;
    }
  }
  return identity;
}

}  // namespace ident

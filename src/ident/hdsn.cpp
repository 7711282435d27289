#include "ident/hdsn.h"

#include "ident/ident_error.h"
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

WordRange IdentifyFieldWords(std::int32_t kind) {
  switch (kind) {
    case kModelNumber:
      return {27, 46};
    case kSerialNumber:
      return {10, 19};
    case kFirmwareRevision:
      return {23, 26};
    default:
      throw IdentError(10001, L"", L"Illegal HD Data type");
  }
}

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

std::wstring DecodeIdentifyString(std::span<const std::uint8_t, kIdentifyBlockSize> block,
                                  WordRange words) {
  std::string bytes;
  for (int w = words.first; w <= words.last; ++w) {
    // ATA strings hold their first character in the high half of each word.
    const std::uint8_t high = block[2 * w + 1];
    if (high == 0) break;
    bytes.push_back(static_cast<char>(high));
    const std::uint8_t low = block[2 * w];
    if (low == 0) break;
    bytes.push_back(static_cast<char>(low));
  }
  const std::wstring text = platform::FromAnsi(bytes);
  const size_t first = text.find_first_not_of(L' ');
  if (first == std::wstring::npos) return {};
  return text.substr(first, text.find_last_not_of(L' ') - first + 1);
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
  return DecodeIdentifyString(std::span<const std::uint8_t, kIdentifyBlockSize>(
                                  reply.data() + kReplyHeaderSize, kIdentifyBlockSize),
                              words);
}

}  // namespace ident

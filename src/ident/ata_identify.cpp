#include "ident/ata_identify.h"

#include "ident/ident_error.h"
#include "platform/codepage.h"
#include "platform/text.h"

namespace ident {

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
  return std::wstring(platform::TrimSpaces(platform::FromAnsi(bytes)));
}

DiskIdentity DecodeIdentity(std::span<const std::uint8_t, kIdentifyBlockSize> block) {
  return {DecodeIdentifyString(block, IdentifyFieldWords(kModelNumber)),
          DecodeIdentifyString(block, IdentifyFieldWords(kSerialNumber)),
          DecodeIdentifyString(block, IdentifyFieldWords(kFirmwareRevision))};
}

}  // namespace ident

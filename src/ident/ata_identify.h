// The ATA IDENTIFY DEVICE block: where a disk keeps its model, serial number
// and firmware revision, and how they are read from it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "ident/disk_identity.h"

namespace ident {

// ATA IDENTIFY DEVICE and the size of the block it returns.
inline constexpr std::uint8_t kAtaIdentifyDevice = 0xEC;
inline constexpr std::size_t kIdentifyBlockSize = 512;

using IdentifyBlock = std::array<std::uint8_t, kIdentifyBlockSize>;

// Field kinds of an IDENTIFY block.
enum IdentifyField : std::int32_t {
  kModelNumber = 0,
  kSerialNumber = 1,
  kFirmwareRevision = 2,
};

// The IDENTIFY words (inclusive) that hold a field; raises error 10001 for
// any other kind.
struct WordRange {
  int first;
  int last;
};
WordRange IdentifyFieldWords(std::int32_t kind);

// One string of an IDENTIFY block: words in ascending order, high byte first,
// ending at the first zero byte, converted from the ANSI code page, with
// leading and trailing U+0020 removed.
std::wstring DecodeIdentifyString(std::span<const std::uint8_t, kIdentifyBlockSize> block,
                                  WordRange words);

// The three strings of a block.
DiskIdentity DecodeIdentity(std::span<const std::uint8_t, kIdentifyBlockSize> block);

}  // namespace ident

// The system disk's identity as a limited user can read it: the disk that
// holds the Windows volume, opened with no access rights and asked for its
// storage device description (IOCTL_STORAGE_QUERY_PROPERTY), which needs none.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "ident/disk_identity.h"
#include "ident/win/procedures/disk_port.h"

namespace ident {

inline constexpr std::uint32_t kIoctlVolumeGetVolumeDiskExtents = 0x00560000;
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x002D1400;

// The number of the disk holding the volume of `windows_folder` ("C:\..."):
// its first extent's disk. Nothing when the folder has no drive letter or
// the volume does not answer.
std::optional<std::uint32_t> SystemDiskNumber(DiskPort& disk, const std::string& windows_folder);

// The strings of a STORAGE_DEVICE_DESCRIPTOR reply: product (model),
// serial number and product revision (firmware), each trimmed of spaces;
// a missing or out-of-range offset gives "". The serial number in the form
// Windows XP gives it (the ATA field's bytes hex-encoded, each pair of
// characters swapped) is decoded.
DiskIdentity DecodeStorageDescriptor(std::span<const std::uint8_t> reply);

// XP's hex-encoded, byte-swapped serial number decoded: `text` must be the
// whole 20-byte ATA serial field in hex (40 digits) decoding to printable
// characters; anything else is returned as it is.
std::string DecodeHexSerial(const std::string& text);

// The system disk's identity through the storage description; nothing when
// any step fails.
std::optional<DiskIdentity> ReadStorageIdentity(DiskPort& disk);

}  // namespace ident

// Reading the small files of sysfs, procfs and /etc without trusting them:
// a tree may hold a FIFO, a socket or a device where a value should be, a
// symbolic link loop, a file of any size. Only a regular file is read, never
// more than a bound, and nothing blocks.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace platform {

// Far above any attribute, DMI value or os-release file.
inline constexpr std::size_t kMaxSmallFile = 64 * 1024;

// The whole file; nullopt when it is not a regular file (after following
// links), cannot be opened or read, or holds more than `max` bytes.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max = kMaxSmallFile);

// The first `max` bytes (fewer when the file is shorter), under the same
// rules but without the size limit: for binary pages of which only the start
// is needed.
std::optional<std::string> ReadFileStart(const std::string& path, std::size_t max);

// All that is left to read from `fd`, into `out`, straight in: sized by
// `expected` with a byte to spare so that the end shows at once, and grown
// should the file grow meanwhile. False on a read error (errno says which).
bool ReadToEnd(int fd, std::string& out, std::size_t expected);

}  // namespace platform

// Everything the Linux adapters read lives under one root folder: "/" on a
// running system, a fixture tree in tests (env KESTROVA_SYSROOT).
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "platform/linux/sysroot.h"

namespace devices::linux_sys {

using platform::Under;

// A small text file's content as one line: up to its first NUL, without
// trailing white space, control characters as spaces. nullopt when it can't
// be read, is not a regular file or is larger than any attribute
// (platform::ReadSmallFile).
std::optional<std::string> ReadAttribute(const std::filesystem::path& file);

// Text that goes into the report is one line: a control character (a line
// break would start a line of its own) becomes a space.
void ControlsToSpaces(std::string& text);

// A hex attribute ("0x8086", "046d", " 1"); nullopt when absent or not a number.
std::optional<unsigned long> ReadHex(const std::filesystem::path& file);
std::optional<unsigned long> ReadDecimal(const std::filesystem::path& file);

// The last component of a symbolic link's target; "" when there is no link.
std::string LinkName(const std::filesystem::path& link);

}  // namespace devices::linux_sys

// The per-user activity log: one time-stamped entry per call, in "log.txt"
// under the log folder.
#pragma once

#include <cstdint>
#include <string>

#include "files/clock.h"
#include "files/file_system.h"

namespace file {

inline constexpr wchar_t kLogFileName[] = L"log.txt";
// A log larger than this is started afresh by the next entry.
inline constexpr std::uint64_t kLogSizeLimit = 1048576;

// Short date, a blank and the long time; the date alone at exact midnight.
std::wstring TimeStamp(Clock& clock);

// Adds CR LF, the time stamp, ": " and `text`. Throws FileError when the
// log cannot be written.
void WriteLog(FileSystem& fs, Clock& clock, const std::wstring& text);

}  // namespace file

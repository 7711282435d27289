// The excerpt of the system's setup log that goes into the report: the last
// lines of the first log file found, or a one-line notice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_system.h"
#include "platform/message_pump.h"

namespace file {

inline constexpr wchar_t kNoSetupLogText[] = L"Could not find log file";
// A log longer than this is not read.
inline constexpr std::uint64_t kSetupLogSizeLimit = 3145728;
inline constexpr size_t kSetupLogLines = 20;

// Where to look: the files to try, in order (the first present one is
// used), whether their lines end in LF alone, and whether their text is
// UTF-8 rather than the ANSI code page.
struct SetupLogSource {
  std::vector<std::wstring> tried_in_order;
  bool lf_line_ends = false;
  bool utf8_text = false;
};

// The Windows logs: with the newer layout (setupapi.dev.log present) the
// application log comes first, otherwise the classic setupapi.log.
SetupLogSource WindowsSetupLogs(FileSystem& fs);

// The pieces between CR LFs, except the last, at most the final 20, each
// preceded by CR LF.
std::wstring SetupLogExcerpt(const std::wstring& text);

// The excerpt of the first present log, "<path> is too big<length>" when it
// is over the limit, or kNoSetupLogText. Never throws.
std::wstring ReadSetupLogExcerpt(FileSystem& fs, platform::MessagePump& pump,
                                 const SetupLogSource& source);

}  // namespace file

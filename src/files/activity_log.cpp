#include "files/activity_log.h"

#include "files/file.h"

namespace file {

std::wstring TimeStamp(Clock& clock) {
  const LocalTime now = clock.Now();
  std::wstring stamp = clock.ShortDate(now);
  if (now.hour != 0 || now.minute != 0 || now.second != 0) stamp += L" " + clock.LongTime(now);
  return stamp;
}

void WriteLog(FileSystem& fs, Clock& clock, const std::wstring& text) {
  const std::wstring entry = L"\r\n" + TimeStamp(clock) + L": " + text;
  const std::wstring path = GetLogFolder(fs) + kLogFileName;
  bool append = true;
  if (FileExists(fs, path)) {
    const auto size = fs.Size(path);
    if (size && *size > kLogSizeLimit) append = false;
  }
  WriteTextFile(fs, path, entry, append);
}

}  // namespace file

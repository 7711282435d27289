// File helpers shared by the scan: presence test, whole-file read and write,
// and the two per-user folders.
#pragma once

#include <string>

#include "files/file_system.h"
#include "platform/message_pump.h"

namespace file {

// The per-user folder name used under both the log and the work folder.
inline constexpr wchar_t kFolderName[] = L"pellucor";

bool FileExists(FileSystem& fs, const std::wstring& path);

// The whole file, converted from the ANSI code page; empty when absent or
// unreadable. Shows the wait cursor and lets pending messages run once.
std::wstring ReadTextFile(FileSystem& fs, platform::MessagePump& pump, const std::wstring& path);

// The same for a file the caller cannot do without (the report template):
// throws FileError naming the path and why it cannot be read: missing, a
// folder, a pipe or device, unreadable.
std::wstring ReadRequiredTextFile(FileSystem& fs, platform::MessagePump& pump,
                                  const std::wstring& path);

// Writes text in the ANSI code page, with no line end after it. Append
// false replaces the file atomically. Throws FileError.
void WriteTextFile(FileSystem& fs, const std::wstring& path, const std::wstring& text, bool Append);

// "appdata" + sep + "pellucor" + sep, created if missing. Throws FileError
// when it is not a private folder of this user (see MakePrivateFolder).
std::wstring GetLogFolder(FileSystem& fs);

}  // namespace file

namespace file {

// "TEMP" + sep + "pellucor" + sep, created if missing. Throws FileError
// when it is not a private folder of this user (see MakePrivateFolder).
std::wstring GetWorkFolder(file::FileSystem& fs);

}  // namespace file

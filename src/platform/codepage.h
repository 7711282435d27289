// Conversions at the program's text boundaries. Inside, text is wide; files,
// registry data and device properties are in the system's ANSI code page
// (CP_ACP on Windows, Windows-1252 standing in for it on Linux).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// The ANSI code page FromAnsi and ToAnsi work in, as a Windows code page
// number (1252 on Linux).
unsigned AnsiCodePage();

// ANSI bytes -> wide text.
std::wstring FromAnsi(std::string_view bytes);

// Wide text -> ANSI bytes. Characters the code page lacks become its
// replacement character ('?').
std::string ToAnsi(std::wstring_view text);

// UTF-8 (sysfs, DMI, exception messages) -> wide text. Invalid sequences
// become U+FFFD.
std::wstring FromUtf8(std::string_view bytes);
std::string ToUtf8(std::wstring_view text);

// The narrow encoding the operating system uses for command-line arguments
// and console output: the ANSI code page on Windows, UTF-8 on Linux.
std::wstring FromSystemNarrow(std::string_view bytes);
std::string ToSystemNarrow(std::wstring_view text);

}  // namespace platform

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

// Appends the UTF-8 form of a code point (U+FFFD for one that is none).
void AppendUtf8(std::string& out, char32_t code_point);

// Windows-1252, on every platform: what Linux stands in for the ANSI code
// page with, and how reports and INF files without a byte-order mark are
// read. The five bytes the code page leaves undefined map to the C1 control
// of the same value, as MultiByteToWideChar and browsers map them.
char16_t Windows1252ToUnicode(unsigned char byte);
// The byte for a character, or -1 when the code page lacks it.
int UnicodeToWindows1252(char32_t character);
std::string Windows1252ToUtf8(std::string_view bytes);

// The narrow encoding the operating system uses for command-line arguments
// and console output: the ANSI code page on Windows, UTF-8 on Linux.
std::wstring FromSystemNarrow(std::string_view bytes);
std::string ToSystemNarrow(std::wstring_view text);

}  // namespace platform

// Text helpers shared by the catalog and the matcher.
#pragma once

#include <string>
#include <string_view>

namespace catalog {

// windows-1252 bytes -> UTF-8, as browsers decode the code page (the five
// unassigned bytes become the C1 controls of the same number).
std::string Cp1252ToUtf8(std::string_view bytes);

// Appends the UTF-8 form of a code point (U+FFFD for one that is none).
void AppendUtf8(std::string& out, char32_t cp);

// ASCII upper case; ids compare without regard to ASCII case.
std::string AsciiUpper(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);

std::string_view Trim(std::string_view text);

}  // namespace catalog

// Text put into an HTML page as character data or an attribute value.
#pragma once

#include <string>

namespace file {

// & < > " ' as character references; everything else unchanged.
std::wstring EscapeHtml(const std::wstring& text);

}  // namespace file

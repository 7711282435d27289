// Text for FLTK labels: UTF-8, line breaks as '\n' only, and '@' doubled so FLTK draws it
// instead of reading it as the start of a symbol name.
#pragma once

#include <string>
#include <string_view>

namespace app {

std::string FltkLabel(std::wstring_view text);

}  // namespace app

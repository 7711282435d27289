// The user's XDG base folders (XDG_DATA_HOME, XDG_CACHE_HOME and their kin).
#pragma once

#include <string>

namespace platform {

// The folder a variable such as XDG_DATA_HOME names, else `under_home`
// (".local/share") below $HOME; "" when neither is set.
std::string XdgFolder(const char* variable, const char* under_home);

}  // namespace platform

// The Save-As dialog of the window program on Linux.
#pragma once

#include <string>

namespace app {

// Opens in `initial_folder` suggesting `file_name` with the HTML filter selected, asks before
// replacing an existing file. The chosen full path, or empty when the user cancels or the
// dialog fails.
std::wstring ShowSaveDialog(const std::wstring& file_name, const std::wstring& initial_folder);

}  // namespace app

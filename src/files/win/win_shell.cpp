#include "files/win/win_shell.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/codepage.h"

namespace file {

void WinShell::Execute(std::uintptr_t owner, const std::wstring& verb, const std::wstring& file,
                       const std::wstring& parameters, const std::wstring& directory,
                       int show_command) {
  ShellExecuteA(reinterpret_cast<HWND>(owner), platform::ToAnsi(verb).c_str(),
                platform::ToAnsi(file).c_str(), platform::ToAnsi(parameters).c_str(),
                platform::ToAnsi(directory).c_str(), show_command);
}

}  // namespace file

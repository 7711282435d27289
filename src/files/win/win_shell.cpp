#include "files/win/win_shell.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>


namespace file {

void WinShell::Execute(std::uintptr_t owner, const std::wstring& verb, const std::wstring& file,
                       const std::wstring& parameters, const std::wstring& directory,
                       int show_command) {
  // Wide, so a path the ANSI code page cannot spell still reaches the shell.
  ShellExecuteW(reinterpret_cast<HWND>(owner), verb.c_str(), file.c_str(), parameters.c_str(),
                directory.c_str(), show_command);
}

}  // namespace file

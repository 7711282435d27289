#include "files/win/win_shell.h"

#include <windows.h>
// After windows.h, which they need.
#include <objbase.h>
#include <shellapi.h>

namespace file {

void WinShell::Execute(std::uintptr_t owner, const std::wstring& verb, const std::wstring& file,
                       const std::wstring& parameters, const std::wstring& directory,
                       int show_command) {
  // The shell's handlers may be COM objects and need an apartment on this
  // thread; where the window already set one up this only counts a use.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  // NOASYNC: the call returns once the handler has taken the document, so a
  // program that exits right after (the command-line tool) does not cut the
  // hand-off short. NO_UI: a failure passes quietly, with no message box
  // that would hold the caller.
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.hwnd = reinterpret_cast<HWND>(owner);
  // Wide, so a path the ANSI code page cannot spell still reaches the shell.
  info.lpVerb = verb.c_str();
  info.lpFile = file.c_str();
  info.lpParameters = parameters.c_str();
  info.lpDirectory = directory.c_str();
  info.nShow = show_command;
  ShellExecuteExW(&info);
  if (SUCCEEDED(com)) CoUninitialize();
}

}  // namespace file

#pragma once

#include "files/shell.h"

namespace file {

// ShellExecuteExW in a COM apartment, waiting for the hand-off; its result
// is dropped.
class WinShell : public Shell {
 public:
  void Execute(std::uintptr_t owner, const std::wstring& verb, const std::wstring& file,
               const std::wstring& parameters, const std::wstring& directory,
               int show_command) override;
};

}  // namespace file

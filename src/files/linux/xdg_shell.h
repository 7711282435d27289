#pragma once

#include <string>
#include <utility>

#include "files/shell.h"

namespace file {

// Hands a document to the desktop's opener (xdg-open) in a process of its
// own session, so it outlives the window and never blocks it. The opener's
// result is not waited for.
class XdgShell : public Shell {
 public:
  explicit XdgShell(std::string opener = "xdg-open") : opener_(std::move(opener)) {}
  void Execute(std::uintptr_t owner, const std::wstring& verb, const std::wstring& file,
               const std::wstring& parameters, const std::wstring& directory,
               int show_command) override;

 private:
  std::string opener_;
};

}  // namespace file

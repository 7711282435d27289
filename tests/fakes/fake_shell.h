// Records every shell call.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "files/shell.h"

namespace fakes {

class FakeShell : public file::Shell {
 public:
  struct Call {
    std::uintptr_t owner;
    std::wstring verb, file, parameters, directory;
    int show_command;
  };
  std::vector<Call> calls;
  bool fail = false;  // the handler cannot be started

  void Execute(std::uintptr_t owner, const std::wstring& verb, const std::wstring& file,
               const std::wstring& parameters, const std::wstring& directory,
               int show_command) override {
    calls.push_back({owner, verb, file, parameters, directory, show_command});
    if (fail) throw std::runtime_error("no handler");
  }
};

}  // namespace fakes

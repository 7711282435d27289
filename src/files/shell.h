// Opening a document with the handler the system has for its type.
#pragma once

#include <cstdint>
#include <string>

namespace file {

// The shell's execute call, as a port. Its result is not reported: callers never look
// at it.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual void Execute(std::uintptr_t owner, const std::wstring& verb, const std::wstring& file,
                       const std::wstring& parameters, const std::wstring& directory,
                       int show_command) = 0;
};

}  // namespace file

namespace file {

// The shell's "open" on `path`, shown normally, with no owner; nothing is checked
// before or after.
void OpenDocument(file::Shell& shell, const std::wstring& path);

}  // namespace file

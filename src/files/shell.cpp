#include "files/shell.h"

namespace file {

void OpenDocument(file::Shell& shell, const std::wstring& path) {
  try {
    shell.Execute(0, L"open", path, L"", L"", 0 /* SW_HIDE */);
  } catch (...) {
    // A failure to start the handler passes without a message.
  }
}

}  // namespace file

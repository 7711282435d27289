#include "files/shell.h"

namespace file {

void OpenDocument(file::Shell& shell, const std::wstring& path) {
  try {
    // Shown normally: a browser asked to open hidden (as some do when told
    // SW_HIDE) leaves a report nobody sees.
    shell.Execute(0, L"open", path, L"", L"", 1 /* SW_SHOWNORMAL */);
  } catch (...) {
    // A failure to start the handler passes without a message.
  }
}

}  // namespace file

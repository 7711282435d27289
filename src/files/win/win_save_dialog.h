#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include "files/save_dialog.h"

namespace file {

// The common-dialog, version and window calls of the Save-As dialog.
class WinDialogApi : public DialogApi {
 public:
  std::uint32_t VersionInfoSize(const std::string& file) override;
  bool VersionInfo(const std::string& file, std::vector<unsigned char>& data) override;
  std::optional<std::vector<unsigned char>> QueryRootBlock(
      const std::vector<unsigned char>& data) override;
  bool RunSaveDialog(SaveFileRecord& record) override;
  std::uintptr_t ParentOf(std::uintptr_t window) override;
  std::uintptr_t FindChild(std::uintptr_t parent, std::uintptr_t after,
                           const std::string& class_name) override;
  std::intptr_t Send(std::uintptr_t window, std::uint32_t message, std::uintptr_t wparam,
                     std::intptr_t lparam) override;
};

// The platform record for `record`, pointing into its buffers (which must
// outlive it and stay unmoved).
OPENFILENAMEW ToOpenFileName(SaveFileRecord& record);

// The hook procedure handed to the dialog.
UINT_PTR CALLBACK DialogHookProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace file

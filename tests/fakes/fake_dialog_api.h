// The common-dialog, version and window calls, scripted: a version resource
// of a chosen major version, a user who types a path or cancels, and a
// window tree with or without the shell's folder view.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "files/save_dialog.h"

namespace fakes {

class FakeDialogApi : public file::DialogApi {
 public:
  // Version resource.
  std::uint32_t info_size = 512;
  bool query_ok = true;
  int major = 6;
  std::vector<std::string> version_files;  // files asked about

  // The dialog: the record it was given, and what the user does.
  std::optional<file::SaveFileRecord> shown;
  std::optional<std::wstring> user_types;  // nothing: the user cancels

  // Windows: dialog 10 inside outer window 20, whose folder view is 30.
  std::uintptr_t outer = 20;
  std::uintptr_t view = 30;
  struct Sent {
    std::uintptr_t window;
    std::uint32_t message;
    std::uintptr_t wparam;
    std::intptr_t lparam;
  };
  std::vector<Sent> sent;
  std::vector<std::string> searched_classes;

  std::uint32_t VersionInfoSize(const std::string& file) override {
    version_files.push_back(file);
    return info_size;
  }
  bool VersionInfo(const std::string&, std::vector<unsigned char>& data) override {
    return data.size() == info_size;
  }
  std::optional<std::vector<unsigned char>> QueryRootBlock(
      const std::vector<unsigned char>&) override {
    if (!query_ok) return std::nullopt;
    // VS_FIXEDFILEINFO: signature, struct version, then dwFileVersionMS
    // with the major version in its high half.
    std::vector<unsigned char> fixed(52, 0);
    fixed[8] = 1;  // minor version, low half
    fixed[10] = static_cast<unsigned char>(major & 0xFF);
    fixed[11] = static_cast<unsigned char>(major >> 8);
    return fixed;
  }
  bool RunSaveDialog(file::SaveFileRecord& record) override {
    shown = record;
    if (!user_types) return false;
    // The dialog writes the path and its NUL into the buffer.
    record.lpstrFile.replace(0, user_types->size() + 1, *user_types + L'\0');
    return true;
  }
  std::uintptr_t ParentOf(std::uintptr_t window) override { return window == 10 ? outer : 0; }
  std::uintptr_t FindChild(std::uintptr_t parent, std::uintptr_t after,
                           const std::string& class_name) override {
    searched_classes.push_back(class_name);
    if (parent == outer && after == 0 && class_name == "SHELLDLL_DefView") return view;
    return 0;
  }
  std::intptr_t Send(std::uintptr_t window, std::uint32_t message, std::uintptr_t wparam,
                     std::intptr_t lparam) override {
    sent.push_back({window, message, wparam, lparam});
    return 0;
  }
};

}  // namespace fakes

#pragma once

#include "files/file_system.h"

namespace file {

// Real files through the wide Win32 functions.
class WinFileSystem : public FileSystem {
 public:
  bool Exists(const std::wstring& path) override;
  std::string ReadBytes(const std::wstring& path) override;
  void AppendBytes(const std::wstring& path, const std::string& bytes) override;
  void ReplaceBytes(const std::wstring& path, const std::string& bytes) override;
  std::optional<std::uint64_t> Size(const std::wstring& path) override;
  void MakePrivateFolder(const std::wstring& path) override;
  std::wstring GetEnv(const std::wstring& name) override;
  std::wstring UserDataFolder() override { return GetEnv(L"appdata"); }
  std::wstring WorkFolder() override { return GetEnv(L"TEMP"); }
  std::wstring DesktopFolder() override;
  std::wstring ExecutableFolder() override;
  wchar_t Separator() const override { return L'\\'; }
};

}  // namespace file

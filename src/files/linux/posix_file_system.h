#pragma once

#include <set>
#include <string>

#include "files/file_system.h"

namespace file {

// Real files on Linux. The user's folders are the XDG ones: user data in
// $XDG_DATA_HOME (~/.local/share), work in $XDG_RUNTIME_DIR or
// $XDG_CACHE_HOME (~/.cache). Folders it creates are
// private (0700). Files are written relative to an open descriptor of their
// folder, and files in a folder checked by MakePrivateFolder only through
// that folder opened again without following links and checked again.
class PosixFileSystem : public FileSystem {
 public:
  bool Exists(const std::wstring& path) override;
  std::string ReadBytes(const std::wstring& path) override;
  void AppendBytes(const std::wstring& path, const std::string& bytes) override;
  void ReplaceBytes(const std::wstring& path, const std::string& bytes) override;
  std::optional<std::uint64_t> Size(const std::wstring& path) override;
  void MakePrivateFolder(const std::wstring& path) override;
  std::wstring GetEnv(const std::wstring& name) override;
  std::wstring UserDataFolder() override;
  std::wstring WorkFolder() override;
  std::wstring DesktopFolder() override;
  std::wstring ExecutableFolder() override;
  wchar_t Separator() const override { return L'/'; }

 private:
  // An open descriptor of the folder holding `path`; `name` gets the rest.
  int OpenFolderOf(const std::string& path, std::string& name);

  std::set<std::string> private_folders_;  // without trailing slash
};

}  // namespace file

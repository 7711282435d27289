#pragma once

#include "files/file_system.h"

namespace file {

// Real files on Linux. The Windows folder variables map to the XDG ones:
// "appdata" -> $XDG_DATA_HOME (~/.local/share), "TEMP" -> $XDG_RUNTIME_DIR or
// $XDG_CACHE_HOME (~/.cache), "USERPROFILE" -> $HOME. Folders it creates are
// private (0700).
class PosixFileSystem : public FileSystem {
 public:
  bool Exists(const std::wstring& path) override;
  std::optional<std::string> ReadBytes(const std::wstring& path) override;
  void AppendBytes(const std::wstring& path, const std::string& bytes) override;
  void ReplaceBytes(const std::wstring& path, const std::string& bytes) override;
  std::optional<std::uint64_t> Size(const std::wstring& path) override;
  bool CreateFolder(const std::wstring& path) override;
  std::wstring GetEnv(const std::wstring& name) override;
  std::wstring DesktopFolder() override;
  std::wstring ExecutableFolder() override;
  wchar_t Separator() const override { return L'/'; }
};

}  // namespace file

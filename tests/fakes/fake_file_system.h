// An in-memory file system with Windows-style paths, for the portable logic.
#pragma once

#include <map>
#include <set>
#include <string>

#include "files/file_system.h"

namespace fakes {

class FakeFileSystem : public file::FileSystem {
 public:
  std::map<std::wstring, std::string> files;
  std::set<std::wstring> folders;
  std::map<std::wstring, std::wstring> env;
  std::set<std::wstring> unwritable;   // paths whose writes fail
  std::set<std::wstring> unreadable;   // present, but reads fail
  std::set<std::wstring> not_private;  // folders MakePrivateFolder refuses
  std::wstring exe_folder = L"C:\\Program Files\\Kestrova";

  bool Exists(const std::wstring& p) override {
    if (p.empty() || p.back() == L'\\') return false;
    return files.count(p) || folders.count(p);
  }
  std::string ReadBytes(const std::wstring& p) override {
    if (folders.count(p)) throw file::FileError("Could not read: it is a folder, not a file");
    if (!files.count(p)) throw file::FileError("Could not open: no such file");
    if (unreadable.count(p)) throw file::FileError("Could not read: access denied");
    return files[p];
  }
  void AppendBytes(const std::wstring& p, const std::string& b) override {
    Check(p);
    files[p] += b;
  }
  void ReplaceBytes(const std::wstring& p, const std::string& b) override {
    Check(p);
    files[p] = b;
  }
  std::optional<std::uint64_t> Size(const std::wstring& p) override {
    if (!files.count(p)) return std::nullopt;
    return files[p].size();
  }
  void MakePrivateFolder(const std::wstring& p) override {
    std::wstring f = p;
    while (!f.empty() && f.back() == L'\\') f.pop_back();
    if (not_private.count(f)) throw file::FileError("Refusing to use the folder: a link");
    folders.insert(f);
  }
  std::wstring GetEnv(const std::wstring& n) override { return env.count(n) ? env[n] : L""; }
  std::wstring UserDataFolder() override { return GetEnv(L"appdata"); }
  std::wstring WorkFolder() override { return GetEnv(L"TEMP"); }
  std::wstring DesktopFolder() override { return GetEnv(L"USERPROFILE") + L"\\desktop"; }
  std::wstring ExecutableFolder() override { return exe_folder; }
  wchar_t Separator() const override { return L'\\'; }

 private:
  void Check(const std::wstring& p) {
    if (unwritable.count(p)) throw file::FileError("Could not write: access denied");
  }
};

}  // namespace fakes

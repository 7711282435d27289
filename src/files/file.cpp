#include "files/file.h"

#include "platform/codepage.h"

namespace file {
namespace {

std::wstring EnsureUserFolder(FileSystem& fs, const wchar_t* variable) {
  const std::wstring sep(1, fs.Separator());
  const std::wstring path = fs.GetEnv(variable) + sep + kFolderName + sep;
  // A path ending in a separator never "exists", so creation is tried every
  // time; failing because it is already there is the normal case.
  if (!FileExists(fs, path)) fs.CreateFolder(path);
  return path;
}

}  // namespace

bool FileExists(FileSystem& fs, const std::wstring& path) {
  try {
    return fs.Exists(path);
  } catch (...) {
    return false;
  }
}

std::wstring ReadTextFile(FileSystem& fs, platform::MessagePump& pump, const std::wstring& path) {
  if (!FileExists(fs, path)) return {};
  std::wstring result;
  pump.SetWaitCursor(true);
  try {
    pump.PumpPending();
    if (auto bytes = fs.ReadBytes(path)) result = platform::FromAnsi(*bytes);
  } catch (...) {
    result.clear();
  }
  pump.SetWaitCursor(false);
  return result;
}

void WriteTextFile(FileSystem& fs, const std::wstring& path, const std::wstring& text,
                   bool Append) {
  const std::string bytes = platform::ToAnsi(text);
  if (Append) {
    fs.AppendBytes(path, bytes);
  } else {
    fs.ReplaceBytes(path, bytes);
  }
}

std::wstring GetLogFolder(FileSystem& fs) {
  try {
    return EnsureUserFolder(fs, L"appdata");
  } catch (...) {
    const std::wstring sep(1, fs.Separator());
    return fs.GetEnv(L"appdata") + sep + kFolderName + sep;
  }
}

}  // namespace file

namespace modScanLib {

std::wstring GetWorkFolder(file::FileSystem& fs) { return file::EnsureUserFolder(fs, L"TEMP"); }

}  // namespace modScanLib

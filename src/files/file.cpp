#include "files/file.h"

#include "platform/codepage.h"

namespace file {
namespace {

std::wstring EnsureUserFolder(FileSystem& fs, const std::wstring& base) {
  const std::wstring sep(1, fs.Separator());
  const std::wstring path = base + sep + kFolderName + sep;
  fs.MakePrivateFolder(path);
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
  try {
    return ReadRequiredTextFile(fs, pump, path);
  } catch (...) {
    return {};
  }
}

std::wstring ReadRequiredTextFile(FileSystem& fs, platform::MessagePump& pump,
                                  const std::wstring& path) {
  pump.SetWaitCursor(true);
  try {
    pump.PumpPending();
    std::wstring text = platform::FromAnsi(fs.ReadBytes(path));
    pump.SetWaitCursor(false);
    return text;
  } catch (...) {
    pump.SetWaitCursor(false);
    throw;
  }
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
  return EnsureUserFolder(fs, fs.UserDataFolder());
}

}  // namespace file

namespace file {

std::wstring GetWorkFolder(file::FileSystem& fs) {
  return file::EnsureUserFolder(fs, fs.WorkFolder());
}

}  // namespace file

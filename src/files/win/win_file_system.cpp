#include "files/win/win_file_system.h"

#include <windows.h>
// After windows.h, which they need.
#include <shlobj.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/win/handles.h"

namespace file {
namespace {

// Paths go to the wide functions as they are: the ANSI code page cannot
// spell every user or folder name.
const wchar_t* W(const std::wstring& s) {
  return s.c_str();
}

[[noreturn]] void Fail(const char* what, const std::wstring& path, DWORD err) {
  throw FileError(std::string(what) + " " + platform::ToUtf8(path) + ": " +
                  platform::SystemMessage(err));
}

[[noreturn]] void Fail(const char* what, const std::wstring& path, const char* reason) {
  throw FileError(std::string(what) + " " + platform::ToUtf8(path) + ": " + reason);
}

void WriteAll(HANDLE h, const std::string& bytes, const std::wstring& path) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1 << 20));
    if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr)) {
      Fail("Could not write", path, GetLastError());
    }
    done += n;
  }
}

bool IsFolder(const std::wstring& path) {
  const DWORD attrs = GetFileAttributesW(W(path));
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool WinFileSystem::Exists(const std::wstring& path) {
  // A directory search would take these as a pattern matching other files.
  if (path.find_first_of(L"*?") != std::wstring::npos) return false;
  WIN32_FIND_DATAW data;
  const HANDLE h = FindFirstFileW(W(path), &data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FindClose(h);
  return true;
}

std::string WinFileSystem::ReadBytes(const std::wstring& path) {
  if (IsFolder(path)) Fail("Could not read", path, "it is a folder, not a file");
  platform::FileHandle h(CreateFileW(W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) Fail("Could not open", path, GetLastError());
  // A pipe or a device would make the read wait, or never end.
  if (GetFileType(h.get()) != FILE_TYPE_DISK) {
    Fail("Could not read", path, "it is not a regular file");
  }
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h.get(), &size)) Fail("Could not read", path, GetLastError());
  if (size.QuadPart > 0x7FFFFFFF) Fail("Could not read", path, "it is too big");
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(h.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                  nullptr)) {
      Fail("Could not read", path, GetLastError());
    }
    if (n == 0) break;
    done += n;
  }
  bytes.resize(done);
  return bytes;
}

void WinFileSystem::AppendBytes(const std::wstring& path, const std::string& bytes) {
  platform::FileHandle h(CreateFileW(W(path), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) Fail("Could not open", path, GetLastError());
  WriteAll(h.get(), bytes, path);
}

void WinFileSystem::ReplaceBytes(const std::wstring& path, const std::string& bytes) {
  if (IsFolder(path)) Fail("Could not write", path, ERROR_ACCESS_DENIED);
  const auto slash = path.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"." : path.substr(0, slash + 1);
  wchar_t tmp[MAX_PATH + 16];
  if (GetTempFileNameW(W(folder), L"kst", 0, tmp) == 0) {
    Fail("Could not create a file beside", path, GetLastError());
  }
  try {
    platform::FileHandle h(
        CreateFileW(tmp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) Fail("Could not write", path, GetLastError());
    WriteAll(h.get(), bytes, path);
    if (!FlushFileBuffers(h.get())) Fail("Could not write", path, GetLastError());
  } catch (...) {
    DeleteFileW(tmp);
    throw;
  }
  if (!MoveFileExW(tmp, W(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD err = GetLastError();
    DeleteFileW(tmp);
    Fail("Could not replace", path, err);
  }
}

std::optional<std::uint64_t> WinFileSystem::Size(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void WinFileSystem::MakePrivateFolder(const std::wstring& path) {
  // The per-user profile folders are protected by their access rules.
  // Already there is the usual case; any other failure shows when the
  // file inside is written.
  CreateDirectoryW(W(path), nullptr);
}

std::wstring WinFileSystem::GetEnv(const std::wstring& name) {
  const DWORD size = GetEnvironmentVariableW(W(name), nullptr, 0);
  if (size == 0) return {};
  std::wstring value(size, L'\0');
  const DWORD got = GetEnvironmentVariableW(W(name), value.data(), size);
  value.resize(got < size ? got : 0);
  return value;
}

std::wstring WinFileSystem::DesktopFolder() {
  // The shell knows where the desktop really is: moved by folder
  // redirection or OneDrive, or named in the system's language on XP.
  wchar_t folder[MAX_PATH] = {};
  if (SUCCEEDED(
          SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, folder)) &&
      folder[0] != L'\0') {
    return folder;
  }
  return GetEnv(L"USERPROFILE") + L"\\desktop";
}

std::wstring WinFileSystem::ExecutableFolder() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return L".";
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  const auto slash = buf.find_last_of(L'\\');
  return slash == std::wstring::npos ? L"." : buf.substr(0, slash);
}

}  // namespace file

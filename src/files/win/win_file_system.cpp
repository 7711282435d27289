#include "files/win/win_file_system.h"

#include <windows.h>

#include <algorithm>

#include "platform/codepage.h"
#include "platform/win/handles.h"

namespace file {
namespace {

std::string Ansi(const std::wstring& s) { return platform::ToAnsi(s); }

[[noreturn]] void Fail(const char* what, const std::wstring& path, DWORD err) {
  throw FileError(std::string(what) + " " + platform::ToUtf8(path) + ": " +
                  platform::SystemMessage(err));
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

}  // namespace

bool WinFileSystem::Exists(const std::wstring& path) {
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(Ansi(path).c_str(), &data);
  const bool found = h != INVALID_HANDLE_VALUE;
  FindClose(h);  // made in either case; its failure does not matter
  return found;
}

std::optional<std::string> WinFileSystem::ReadBytes(const std::wstring& path) {
  platform::FileHandle h(CreateFileA(Ansi(path).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) return std::nullopt;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(h.get(), &size) || size.QuadPart > 0x7FFFFFFF) return std::nullopt;
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!ReadFile(h.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                  nullptr)) {
      return std::nullopt;
    }
    if (n == 0) break;
    done += n;
  }
  bytes.resize(done);
  return bytes;
}

void WinFileSystem::AppendBytes(const std::wstring& path, const std::string& bytes) {
  platform::FileHandle h(CreateFileA(Ansi(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h) Fail("Could not open", path, GetLastError());
  WriteAll(h.get(), bytes, path);
}

void WinFileSystem::ReplaceBytes(const std::wstring& path, const std::string& bytes) {
  const std::string target = Ansi(path);
  const DWORD attrs = GetFileAttributesA(target.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    Fail("Could not write", path, ERROR_ACCESS_DENIED);
  }
  std::string folder = target;
  const auto slash = folder.find_last_of("\\/");
  folder = slash == std::string::npos ? "." : folder.substr(0, slash + 1);
  char tmp[MAX_PATH + 16];
  if (GetTempFileNameA(folder.c_str(), "kst", 0, tmp) == 0) {
    Fail("Could not create a file beside", path, GetLastError());
  }
  try {
    platform::FileHandle h(CreateFileA(tmp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) Fail("Could not write", path, GetLastError());
    WriteAll(h.get(), bytes, path);
    if (!FlushFileBuffers(h.get())) Fail("Could not write", path, GetLastError());
  } catch (...) {
    DeleteFileA(tmp);
    throw;
  }
  if (!MoveFileExA(tmp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD err = GetLastError();
    DeleteFileA(tmp);
    Fail("Could not replace", path, err);
  }
}

std::optional<std::uint64_t> WinFileSystem::Size(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(Ansi(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool WinFileSystem::CreateFolder(const std::wstring& path) {
  return CreateDirectoryA(Ansi(path).c_str(), nullptr) != 0;
}

std::wstring WinFileSystem::GetEnv(const std::wstring& name) {
  const std::string n = Ansi(name);
  const DWORD size = GetEnvironmentVariableA(n.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::string value(size, '\0');
  const DWORD got = GetEnvironmentVariableA(n.c_str(), value.data(), size);
  value.resize(got < size ? got : 0);
  return platform::FromAnsi(value);
}

std::wstring WinFileSystem::DesktopFolder() { return GetEnv(L"USERPROFILE") + L"\\desktop"; }

std::wstring WinFileSystem::ExecutableFolder() {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return L".";
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  const auto slash = buf.find_last_of('\\');
  return platform::FromAnsi(slash == std::string::npos ? "." : buf.substr(0, slash));
}

}  // namespace file

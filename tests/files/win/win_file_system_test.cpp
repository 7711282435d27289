#include "files/win/win_file_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <vector>

#include "files/file.h"
#include "platform/codepage.h"

namespace {

// Points this program's import of a kernel32 function at `replacement`;
// the previous target, or null when the program does not import it.
void* PatchKernelImport(const char* function, void* replacement) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const auto& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    if (_stricmp(reinterpret_cast<const char*>(base + imp->Name), "kernel32.dll") != 0) continue;
    if (imp->OriginalFirstThunk == 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      const auto* by_name =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
      DWORD old = 0;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old);
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<decltype(slots->u1.Function)>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
      return previous;
    }
  }
  return nullptr;
}

std::vector<HANDLE> find_close_calls;
BOOL(WINAPI* real_find_close)(HANDLE) = nullptr;
BOOL WINAPI RecordingFindClose(HANDLE h) {
  find_close_calls.push_back(h);
  return h == INVALID_HANDLE_VALUE ? FALSE : real_find_close(h);
}

class WinFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, tmp), 0u);
    dir = std::string(tmp) + "kestrova-fs-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  }
  void TearDown() override {
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::string p = dir + "\\" + d.cFileName;
        if (!(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
          DeleteFileA(p.c_str());
        else if (d.cFileName[0] != '.')
          RemoveDirectoryA(p.c_str());
      } while (FindNextFileA(h, &d));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }
  std::wstring W(const std::string& p) { return platform::FromAnsi(p); }
  int CountEntries() {
    int n = 0;
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return 0;
    do {
      if (d.cFileName[0] != '.') ++n;
    } while (FindNextFileA(h, &d));
    FindClose(h);
    return n;
  }

  std::string dir;
  file::WinFileSystem sys;
};

TEST_F(WinFileSystemTest, ExistsTakesNoPatternsAndClosesOnlyARealSearch) {
  sys.ReplaceBytes(W(dir + "\\a.txt"), "x");
  EXPECT_TRUE(sys.Exists(W(dir)));
  EXPECT_FALSE(sys.Exists(W(dir + "\\")));
  EXPECT_FALSE(sys.Exists(W(dir + "\\*.txt")));  // a pattern is no file
  EXPECT_FALSE(sys.Exists(W(dir + "\\a.tx?")));

  // A search that found nothing has no handle to close.
  real_find_close = reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(
      PatchKernelImport("FindClose", reinterpret_cast<void*>(&RecordingFindClose)));
  ASSERT_NE(real_find_close, nullptr) << "FindClose is not imported";
  find_close_calls.clear();
  const bool missing = sys.Exists(W(dir + "\\missing.txt"));
  const bool present = sys.Exists(W(dir + "\\a.txt"));
  PatchKernelImport("FindClose", reinterpret_cast<void*>(real_find_close));
  EXPECT_FALSE(missing);
  EXPECT_TRUE(present);
  ASSERT_EQ(find_close_calls.size(), 1u);
  EXPECT_NE(find_close_calls[0], INVALID_HANDLE_VALUE);
}

TEST_F(WinFileSystemTest, ReadBytesRefusesAFolderWithItsReason) {
  try {
    sys.ReadBytes(W(dir));
    ADD_FAILURE() << "a folder was read";
  } catch (const file::FileError& e) {
    EXPECT_NE(std::string(e.what()).find("it is a folder"), std::string::npos);
  }
  EXPECT_THROW(sys.ReadBytes(W(dir + "\\missing.html")), file::FileError);
}

TEST_F(WinFileSystemTest, PathsOutsideTheAnsiCodePageWork) {
  // Greek and Chinese: at most one of them fits any single ANSI code page.
  const std::wstring folder = W(dir) + L"\\\u0395\u03bb\u03ad\u03bd\u03b7 \u5f20\u4f1f";
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  SetEnvironmentVariableW(L"KESTROVA_TEST_TEMP", folder.c_str());
  EXPECT_EQ(sys.GetEnv(L"KESTROVA_TEST_TEMP"), folder);
  SetEnvironmentVariableW(L"KESTROVA_TEST_TEMP", nullptr);

  const std::wstring old_temp = sys.GetEnv(L"TEMP");
  SetEnvironmentVariableW(L"TEMP", folder.c_str());
  const std::wstring work = file::GetWorkFolder(sys);
  SetEnvironmentVariableW(L"TEMP", old_temp.c_str());
  EXPECT_EQ(work, folder + L"\\pellucor\\");
  const std::wstring report = work + L"driver.html";
  file::WriteTextFile(sys, report, L"first", false);
  file::WriteTextFile(sys, report, L"second", false);
  sys.AppendBytes(work + L"log.txt", "a");
  sys.AppendBytes(work + L"log.txt", "b");
  EXPECT_TRUE(sys.Exists(report));
  EXPECT_EQ(sys.ReadBytes(report), "second");
  EXPECT_EQ(sys.ReadBytes(work + L"log.txt"), "ab");
  EXPECT_EQ(sys.Size(report), 6u);
  DeleteFileW(report.c_str());
  DeleteFileW((work + L"log.txt").c_str());
  RemoveDirectoryW(work.c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST_F(WinFileSystemTest, ReplaceAppendAndReadRoundTripInTheAnsiCodePage) {
  const std::wstring report = W(dir + "\\driver.html");
  sys.ReplaceBytes(report, "a much longer first text");
  file::WriteTextFile(sys, report, L"caf\u00e9\r\n", false);
  platform::NoMessagePump pump;
  EXPECT_EQ(file::ReadTextFile(sys, pump, report), L"caf\u00e9\r\n");
  EXPECT_EQ(sys.Size(report), 6u);

  const std::wstring log = W(dir + "\\log.txt");
  sys.AppendBytes(log, "a");
  sys.AppendBytes(log, "b");
  EXPECT_EQ(sys.ReadBytes(log), "ab");

  // Failures throw and leave no temporary file behind.
  EXPECT_THROW(sys.ReplaceBytes(W(dir + "\\missing\\f.html"), "x"), file::FileError);
  EXPECT_THROW(sys.ReplaceBytes(W(dir), "x"), file::FileError);
  EXPECT_EQ(CountEntries(), 2);
}

TEST_F(WinFileSystemTest, FoldersComeFromTheEnvironment) {
  SetEnvironmentVariableA("TEMP", dir.c_str());
  EXPECT_EQ(file::GetWorkFolder(sys), W(dir + "\\pellucor\\"));
  EXPECT_EQ(file::GetWorkFolder(sys), W(dir + "\\pellucor\\"));
  EXPECT_TRUE(sys.Exists(W(dir + "\\pellucor")));
  RemoveDirectoryA((dir + "\\pellucor").c_str());
  EXPECT_FALSE(sys.ExecutableFolder().empty());
  EXPECT_EQ(sys.ExecutableFolder().back() == L'\\', false);
}

// The desktop is where the shell says it is (learn.microsoft.com:
// "SHGetFolderPathW function (shlobj_core.h)", CSIDL_DESKTOPDIRECTORY), not
// %USERPROFILE%\desktop: here it is redirected as folder redirection or
// OneDrive would.
TEST_F(WinFileSystemTest, TheDesktopIsWhereTheShellSaysItIs) {
  const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            0);
  char old[MAX_PATH * 2] = {};
  DWORD old_size = sizeof old;
  DWORD old_type = 0;
  const bool had_value = RegQueryValueExA(key, "Desktop", nullptr, &old_type,
                                          reinterpret_cast<BYTE*>(old), &old_size) == 0;
  const std::string redirected = dir + "\\Redirected Desk";
  CreateDirectoryA(redirected.c_str(), nullptr);
  RegSetValueExA(key, "Desktop", 0, REG_SZ, reinterpret_cast<const BYTE*>(redirected.c_str()),
                 static_cast<DWORD>(redirected.size() + 1));
  const std::wstring desktop = sys.DesktopFolder();
  if (had_value) {
    RegSetValueExA(key, "Desktop", 0, old_type, reinterpret_cast<const BYTE*>(old), old_size);
  } else {
    RegDeleteValueA(key, "Desktop");
  }
  RegCloseKey(key);
  EXPECT_EQ(desktop, W(redirected));
}

}  // namespace

#include "files/win/win_save_dialog.h"

#include <winver.h>

#include <string>

namespace file {

namespace {

// VERSION.dll is not a KnownDLL: imported statically, a copy planted beside
// the program (say, in a Downloads folder) would be loaded instead of the
// system's. So it is loaded once, by full path, from the system folder.
struct VersionLibrary {
  using SizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
  using InfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
  using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);
  SizeFn size = nullptr;
  InfoFn info = nullptr;
  QueryFn query = nullptr;

  VersionLibrary() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    const std::wstring path = std::wstring(folder, length) + L"\\version.dll";
    HMODULE module = LoadLibraryW(path.c_str());  // kept for the process's life
    if (!module) return;
    size = reinterpret_cast<SizeFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoSizeA")));
    info = reinterpret_cast<InfoFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetFileVersionInfoA")));
    query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "VerQueryValueA")));
  }
};

const VersionLibrary& Version() {
  static const VersionLibrary library;
  return library;
}

}  // namespace

// Without the library every answer is "no version resource".
std::uint32_t WinDialogApi::VersionInfoSize(const std::string& file) {
  DWORD handle = 0;
  return Version().size ? Version().size(file.c_str(), &handle) : 0;
}

bool WinDialogApi::VersionInfo(const std::string& file, std::vector<unsigned char>& data) {
  return Version().info &&
         Version().info(file.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) != 0;
}

std::optional<std::vector<unsigned char>> WinDialogApi::QueryRootBlock(
    const std::vector<unsigned char>& data) {
  void* block = nullptr;
  UINT length = 0;
  if (!Version().query || !Version().query(data.data(), "\\", &block, &length) || block == nullptr)
    return std::nullopt;
  const auto* bytes = static_cast<const unsigned char*>(block);
  return std::vector<unsigned char>(bytes, bytes + length);
}

OPENFILENAMEW ToOpenFileName(SaveFileRecord& r) {
  // Zeroed, so the fields the 76-byte form leaves out are 0 as well.
  OPENFILENAMEW ofn{};
  ofn.lStructSize = r.lStructSize;
  ofn.hwndOwner = reinterpret_cast<HWND>(r.hwndOwner);
  ofn.hInstance = reinterpret_cast<HINSTANCE>(r.hInstance);
  ofn.lpstrFilter = r.lpstrFilter.c_str();
  ofn.lpstrCustomFilter = nullptr;
  ofn.nMaxCustFilter = r.nMaxCustFilter;
  ofn.nFilterIndex = r.nFilterIndex;
  ofn.lpstrFile = r.lpstrFile.data();
  ofn.nMaxFile = r.nMaxFile;
  ofn.lpstrFileTitle = r.lpstrFileTitle.data();
  ofn.nMaxFileTitle = r.nMaxFileTitle;
  ofn.lpstrInitialDir = r.lpstrInitialDir.c_str();
  ofn.lpstrTitle = r.lpstrTitle.c_str();
  ofn.Flags = r.Flags;
  ofn.nFileOffset = 0;
  ofn.nFileExtension = 0;
  ofn.lpstrDefExt = r.lpstrDefExt.c_str();
  ofn.lCustData = static_cast<LPARAM>(r.lCustData);
  ofn.lpfnHook = r.hook ? DialogHookProc : nullptr;
  ofn.lpTemplateName = nullptr;
  return ofn;
}

bool WinDialogApi::RunSaveDialog(SaveFileRecord& record) {
  // The buffers must hold what the record says they hold.
  if (record.lpstrFile.size() < record.nMaxFile ||
      record.lpstrFileTitle.size() < record.nMaxFileTitle) {
    return false;
  }
  OPENFILENAMEW ofn = ToOpenFileName(record);
  return ::GetSaveFileNameW(&ofn) != 0;
}

std::uintptr_t WinDialogApi::ParentOf(std::uintptr_t window) {
  return reinterpret_cast<std::uintptr_t>(GetParent(reinterpret_cast<HWND>(window)));
}

std::uintptr_t WinDialogApi::FindChild(std::uintptr_t parent, std::uintptr_t after,
                                       const std::string& class_name) {
  return reinterpret_cast<std::uintptr_t>(FindWindowExA(
      reinterpret_cast<HWND>(parent), reinterpret_cast<HWND>(after), class_name.c_str(), nullptr));
}

std::intptr_t WinDialogApi::Send(std::uintptr_t window, std::uint32_t message,
                                 std::uintptr_t wparam, std::intptr_t lparam) {
  return SendMessageA(reinterpret_cast<HWND>(window), message, wparam, lparam);
}

UINT_PTR CALLBACK DialogHookProc(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
  NotifyHeader header;
  const NotifyHeader* seen = nullptr;
  if (message == WM_NOTIFY && lparam != 0) {
    const auto* nm = reinterpret_cast<const NMHDR*>(lparam);
    header = {reinterpret_cast<std::uintptr_t>(nm->hwndFrom), nm->idFrom,
              static_cast<std::int32_t>(nm->code)};
    seen = &header;
  }
  WinDialogApi api;
  return static_cast<UINT_PTR>(
      HookProcedure(api, reinterpret_cast<std::uintptr_t>(dialog), message, seen));
}

}  // namespace file

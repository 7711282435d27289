// The Save-As dialog of the common-dialog library, through a port that
// mirrors the platform calls it needs. The record is filled and read here;
// the adapter only copies it into the platform's OPENFILENAME.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace file {

inline constexpr wchar_t kSaveDialogTitle[] = L"Save File As...";
// Filters as (name, pattern); the second one is selected at start.
inline constexpr const wchar_t* kSaveFilters[2][2] = {{L"All Files (*.*)", L"*.*"},
                                                      {L"HTML (.html)", L"*.html"}};
inline constexpr std::uint32_t kSaveFilterIndex = 2;  // counted from 1
inline constexpr std::uint32_t kFileBufferChars = 700;
inline constexpr std::uint32_t kFileTitleChars = 260;
inline constexpr wchar_t kDefaultExtension[] = L"doc";
inline constexpr char kCommonDialogLibrary[] = "Comdlg32.dll";

// OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_ENABLEHOOK |
// OFN_EXTENSIONDIFFERENT | OFN_EXPLORER | OFN_ENABLESIZING | OFN_FORCESHOWHIDDEN
inline constexpr std::uint32_t kSaveFlags = 0x1088042E;
// The full record, and the one without pvReserved, dwReserved and FlagsEx
// for common-dialog libraries before version 5.
inline constexpr std::uint32_t kRecordSizeV5 = 88;
inline constexpr std::uint32_t kRecordSizeOld = 76;

inline constexpr std::uint32_t kWmNotify = 78;
inline constexpr std::uint32_t kWmCommand = 273;
inline constexpr std::int32_t kCdnFolderChange = -603;
// The shell folder view's unpublished command for its details (report) view.
inline constexpr std::uintptr_t kDetailsViewCommand = 28716;  // 0x702C
inline constexpr char kShellViewClass[] = "SHELLDLL_DefView";

// The OPENFILENAME fields, in the record's order. Text is wide: the
// dialog's Unicode form has the same fields and sizes, and lets it open in
// and return folders whose names the ANSI code page cannot spell. The
// string buffers are what the dialog reads and writes.
struct SaveFileRecord {
  std::uint32_t lStructSize = 0;
  std::uintptr_t hwndOwner = 0;
  std::uintptr_t hInstance = 0;
  std::wstring lpstrFilter;  // pairs of NUL-ended texts, then one more NUL
  bool has_custom_filter = false;
  std::uint32_t nMaxCustFilter = 0;
  std::uint32_t nFilterIndex = 0;
  std::wstring lpstrFile;  // the file buffer
  std::uint32_t nMaxFile = 0;
  std::wstring lpstrFileTitle;
  std::uint32_t nMaxFileTitle = 0;
  std::wstring lpstrInitialDir;
  std::wstring lpstrTitle;
  std::uint32_t Flags = 0;
  std::wstring lpstrDefExt;
  std::uintptr_t lCustData = 0;
  bool hook = false;  // lpfnHook is the adapter's hook, which calls HookProcedure
  bool has_template_name = false;
};

// The notification header of a WM_NOTIFY.
struct NotifyHeader {
  std::uintptr_t hwndFrom = 0;
  std::uintptr_t idFrom = 0;
  std::int32_t code = 0;
};

// The platform calls, one method each.
class DialogApi {
 public:
  virtual ~DialogApi() = default;
  // GetFileVersionInfoSizeA: 0 when the file has no version resource.
  virtual std::uint32_t VersionInfoSize(const std::string& file) = 0;
  // GetFileVersionInfoA into `data` (already of the size above).
  virtual bool VersionInfo(const std::string& file, std::vector<unsigned char>& data) = 0;
  // VerQueryValueA of the root block "\": the VS_FIXEDFILEINFO's bytes.
  virtual std::optional<std::vector<unsigned char>> QueryRootBlock(
      const std::vector<unsigned char>& data) = 0;
  // GetSaveFileNameW: true when the user chose a file, which the dialog
  // wrote into record.lpstrFile.
  virtual bool RunSaveDialog(SaveFileRecord& record) = 0;
  // GetParent, FindWindowExA (no window name), SendMessageA.
  virtual std::uintptr_t ParentOf(std::uintptr_t window) = 0;
  virtual std::uintptr_t FindChild(std::uintptr_t parent, std::uintptr_t after,
                                   const std::string& class_name) = 0;
  virtual std::intptr_t Send(std::uintptr_t window, std::uint32_t message, std::uintptr_t wparam,
                             std::intptr_t lparam) = 0;
};

// Whether the common-dialog library's major version is 5 or more.
bool CommonDialogIsVersion5(DialogApi& api);

// The record for a dialog suggesting `file_name` in `initial_folder`.
SaveFileRecord BuildSaveRecord(bool version5, const std::wstring& file_name,
                               const std::wstring& initial_folder);

// The chosen path, or empty when the user cancels or the dialog fails.
std::wstring ShowSaveDialog(DialogApi& api, const std::wstring& file_name,
                            const std::wstring& initial_folder);

// The dialog's hook: on every folder change the file list goes to the
// details view. `header` is read only for WM_NOTIFY. Always 0, so the
// dialog's own processing goes on.
std::intptr_t HookProcedure(DialogApi& api, std::uintptr_t dialog, std::uint32_t message,
                            const NotifyHeader* header);

}  // namespace file

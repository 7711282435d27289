#include "files/save_dialog.h"

#include "platform/codepage.h"

namespace MDialogHook {

bool CommonDialogIsVersion5(DialogApi& api) {
  const std::uint32_t size = api.VersionInfoSize(kCommonDialogLibrary);
  if (size == 0) return false;
  std::vector<unsigned char> data(size);
  if (!api.VersionInfo(kCommonDialogLibrary, data)) return false;
  const auto fixed = api.QueryRootBlock(data);
  // The major version is the high half of dwFileVersionMS, at byte 10.
  if (!fixed || fixed->size() < 12) return false;
  const unsigned major = (*fixed)[10] | ((*fixed)[11] << 8);
  return major >= 5;
}

SaveFileRecord BuildSaveRecord(bool version5, const std::wstring& file_name,
                               const std::wstring& initial_folder) {
  SaveFileRecord r;
  r.lStructSize = version5 ? kRecordSizeV5 : kRecordSizeOld;
  for (const auto& filter : kSaveFilters) {
    r.lpstrFilter += platform::ToAnsi(filter[0]) + '\0' + platform::ToAnsi(filter[1]) + '\0';
  }
  r.lpstrFilter += '\0';
  r.nFilterIndex = kSaveFilterIndex;
  r.lpstrFile = platform::ToAnsi(file_name) + std::string(kFileBufferChars, '\0');
  r.nMaxFile = kFileBufferChars;
  r.lpstrFileTitle.assign(kFileTitleChars, '\0');
  r.nMaxFileTitle = kFileTitleChars;
  r.lpstrInitialDir = platform::ToAnsi(initial_folder);
  r.lpstrTitle = platform::ToAnsi(kSaveDialogTitle);
  r.Flags = kSaveFlags;
  r.lpstrDefExt = platform::ToAnsi(kDefaultExtension);
  r.hook = true;
  return r;
}

std::wstring ShowSaveDialog(DialogApi& api, const std::wstring& file_name,
                            const std::wstring& initial_folder) {
  try {
    SaveFileRecord record = BuildSaveRecord(CommonDialogIsVersion5(api), file_name, initial_folder);
    if (!api.RunSaveDialog(record)) return {};
    const size_t end = record.lpstrFile.find('\0');
    return platform::FromAnsi(record.lpstrFile.substr(0, end));
  } catch (...) {
    return {};
  }
}

std::intptr_t HookProcedure(DialogApi& api, std::uintptr_t dialog, std::uint32_t message,
                            const NotifyHeader* header) {
  if (message != kWmNotify || header == nullptr) return 0;
  if (header->code != kCdnFolderChange) return 0;
  const std::uintptr_t view = api.FindChild(api.ParentOf(dialog), 0, kShellViewClass);
  if (view != 0) api.Send(view, kWmCommand, kDetailsViewCommand, 0);
  return 0;
}

}  // namespace MDialogHook

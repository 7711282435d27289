#include "files/save_dialog.h"

namespace file {

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
    r.lpstrFilter += std::wstring(filter[0]) + L'\0' + filter[1] + L'\0';
  }
  r.lpstrFilter += L'\0';
  r.nFilterIndex = kSaveFilterIndex;
  r.lpstrFile = file_name + std::wstring(kFileBufferChars, L'\0');
  r.nMaxFile = kFileBufferChars;
  r.lpstrFileTitle.assign(kFileTitleChars, L'\0');
  r.nMaxFileTitle = kFileTitleChars;
  r.lpstrInitialDir = initial_folder;
  r.lpstrTitle = kSaveDialogTitle;
  r.Flags = kSaveFlags;
  r.lpstrDefExt = kDefaultExtension;
  r.hook = true;
  return r;
}

std::wstring ShowSaveDialog(DialogApi& api, const std::wstring& file_name,
                            const std::wstring& initial_folder) {
  try {
    SaveFileRecord record = BuildSaveRecord(CommonDialogIsVersion5(api), file_name, initial_folder);
    if (!api.RunSaveDialog(record)) return {};
    return record.lpstrFile.substr(0, record.lpstrFile.find(L'\0'));
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

}  // namespace file

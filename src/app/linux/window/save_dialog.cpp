#include "app/linux/window/save_dialog.h"

#include <FL/Fl_Native_File_Chooser.H>

#include <string>

#include "files/save_dialog.h"
#include "platform/codepage.h"

namespace app {

std::wstring ShowSaveDialog(const std::wstring& file_name, const std::wstring& initial_folder) {
  Fl_Native_File_Chooser chooser(Fl_Native_File_Chooser::BROWSE_SAVE_FILE);
  const std::string title = platform::ToUtf8(file::kSaveDialogTitle);
  chooser.title(title.c_str());
  // FLTK's filter lines are "name<TAB>pattern"; "*" is what "*.*" means on Windows.
  std::string filters;
  for (const auto& filter : file::kSaveFilters) {
    const std::wstring pattern = filter[1] == std::wstring(L"*.*") ? L"*" : filter[1];
    filters += platform::ToUtf8(filter[0]) + '\t' + platform::ToUtf8(pattern) + '\n';
  }
  chooser.filter(filters.c_str());
  chooser.filter_value(static_cast<int>(file::kSaveFilterIndex) - 1);
  const std::string folder = platform::ToSystemNarrow(initial_folder);
  chooser.directory(folder.c_str());
  // The dialogs here add no extension to a bare name, so the suggestion carries the one of the
  // selected HTML filter; the overwrite question then sees the real file name.
  std::wstring suggested = file_name;
  if (suggested.find(L'.') == std::wstring::npos) suggested += L".html";
  // A bare name would be taken relative to the process's current folder by FLTK's own dialog.
  if (!initial_folder.empty() && suggested.find(L'/') == std::wstring::npos) {
    suggested = initial_folder + (initial_folder.back() == L'/' ? L"" : L"/") + suggested;
  }
  const std::string preset = platform::ToSystemNarrow(suggested);
  chooser.preset_file(preset.c_str());
  chooser.options(Fl_Native_File_Chooser::SAVEAS_CONFIRM | Fl_Native_File_Chooser::NEW_FOLDER);

  if (chooser.show() != 0) return {};  // 1 cancelled, -1 failed
  const char* chosen = chooser.filename();
  if (chosen == nullptr || *chosen == '\0') return {};
  return platform::FromSystemNarrow(chosen);
}

}  // namespace app

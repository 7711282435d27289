// Composition root: the real file system and the real scan operations.
#include "app/scan_services.h"
#include "files/activity_log.h"
#include "files/save_dialog.h"
#include "files/setup_log.h"
#include "files/shell.h"
#include "files/win/win_clock.h"
#include "files/win/win_file_system.h"
#include "files/win/win_save_dialog.h"
#include "files/win/win_shell.h"
#include "ident/disk_identity.h"
#include "ident/identifiers.h"
#include "ident/win/win_guid_source.h"

namespace app {

std::unique_ptr<file::FileSystem> MakeFileSystem() {
  return std::make_unique<file::WinFileSystem>();
}

ScanServices MakePlatformServices(ScanUi& ui, file::FileSystem& fs) {
  ScanServices s = CommonServices(ui);
  s.GetHardwareId = [] { return ident::HardwareId(*ident::MakeDiskIdentitySource()); };
  s.NewScanId = [] {
    ident::WinGuidSource guids;
    return ident::NewScanId(guids);
  };
  auto clock = std::make_shared<file::WinClock>();
  s.WriteLog = [&fs, clock](const std::wstring& text) { file::WriteLog(fs, *clock, text); };
  s.SetupLogExcerpt = [&fs, &ui] {
    return file::ReadSetupLogExcerpt(fs, ui, file::WindowsSetupLogs(fs));
  };
  auto shell = std::make_shared<file::WinShell>();
  s.OpenDocument = [shell](const std::wstring& path) { file::OpenDocument(*shell, path); };
  s.ShowSaveDialog = [](const std::wstring& file_name, const std::wstring& initial_folder) {
    file::WinDialogApi api;
    return file::ShowSaveDialog(api, file_name, initial_folder);
  };
  return s;
}

}  // namespace app

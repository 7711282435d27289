// Composition root: the real file system and the real scan operations.
#include "app/scan_services.h"
#include "files/activity_log.h"
#include "files/linux/kernel_journal.h"
#include "files/linux/posix_clock.h"
#include "files/linux/posix_file_system.h"
#include "files/linux/xdg_shell.h"
#include "files/setup_log.h"
#include "files/shell.h"
#include "ident/disk_identity.h"
#include "ident/identifiers.h"
#include "ident/linux/linux_guid_source.h"

namespace app {

std::unique_ptr<file::FileSystem> MakeFileSystem() {
  return std::make_unique<file::PosixFileSystem>();
}

ScanServices MakePlatformServices(ScanUi& ui, file::FileSystem& fs) {
  ScanServices s = CommonServices(ui);
  s.GetHardwareId = [] { return ident::HardwareId(*ident::MakeDiskIdentitySource()); };
  s.NewScanId = [] {
    ident::LinuxGuidSource guids;
    return ident::NewScanId(guids);
  };
  auto clock = std::make_shared<file::PosixClock>();
  s.WriteLog = [&fs, clock](const std::wstring& text) { file::WriteLog(fs, *clock, text); };
  s.SetupLogExcerpt = [&fs, &ui] {
    return file::LinuxSetupLogExcerpt(fs, ui, "",
                                      [&ui](const std::wstring& text) { ui.ReportProblem(text); });
  };
  auto shell = std::make_shared<file::XdgShell>();
  s.OpenDocument = [shell](const std::wstring& path) { file::OpenDocument(*shell, path); };
  // ShowSaveDialog is the window program's (FLTK); the command-line tool sets its own.
  return s;
}

}  // namespace app

// Composition root: the real file system and the real scan operations.
#include "app/placeholder_services.h"
#include "app/scan_services.h"
#include "files/win/win_file_system.h"
#include "ident/base64.h"
#include "ident/identifiers.h"
#include "ident/win/win_disk_port.h"
#include "ident/win/win_guid_source.h"

namespace app {

std::unique_ptr<file::FileSystem> MakeFileSystem() { return std::make_unique<file::WinFileSystem>(); }

ScanServices MakePlatformServices(ScanUi& ui, file::FileSystem& fs) {
  ScanServices s = PlaceholderServices(ui, fs);
  s.EncodeText = [](const std::wstring& text) { return modScanLib::EncodeText(text); };
  s.GetHardwareId = [] {
    ident::WinDiskPort disk;
    return modScanLib::GetHardwareId(disk);
  };
  s.NewScanId = [] {
    ident::WinGuidSource guids;
    return api::NewScanId(guids);
  };
  return s;
}

}  // namespace app

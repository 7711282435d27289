// Composition root: the real file system and the real scan operations.
#include "app/placeholder_services.h"
#include "app/scan_services.h"
#include "files/linux/posix_file_system.h"
#include "ident/base64.h"
#include "ident/identifiers.h"
#include "ident/linux/linux_disk_port.h"
#include "ident/linux/linux_guid_source.h"

namespace app {

std::unique_ptr<file::FileSystem> MakeFileSystem() { return std::make_unique<file::PosixFileSystem>(); }

ScanServices MakePlatformServices(ScanUi& ui, file::FileSystem& fs) {
  ScanServices s = PlaceholderServices(ui, fs);
  s.EncodeText = [](const std::wstring& text) { return modScanLib::EncodeText(text); };
  s.GetHardwareId = [] {
    ident::LinuxDiskPort disk(ident::SysRootFromEnvironment());
    return modScanLib::GetHardwareId(disk);
  };
  s.NewScanId = [] {
    ident::LinuxGuidSource guids;
    return api::NewScanId(guids);
  };
  return s;
}

}  // namespace app

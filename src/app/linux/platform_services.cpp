// Composition root: the real file system and the real scan operations.
#include "app/placeholder_services.h"
#include "app/scan_services.h"
#include "files/linux/posix_file_system.h"

namespace app {

std::unique_ptr<file::FileSystem> MakeFileSystem() { return std::make_unique<file::PosixFileSystem>(); }

ScanServices MakePlatformServices(ScanUi& ui, file::FileSystem& fs) {
  ScanServices s = PlaceholderServices(ui, fs);
  return s;
}

}  // namespace app

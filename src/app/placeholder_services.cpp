#include "app/placeholder_services.h"

namespace app {

ScanServices PlaceholderServices(ScanUi&, file::FileSystem&) {
  ScanServices s;
  s.CollectScanData = [] {  // PLACEHOLDER: driver list + computer info
    return std::wstring(L"\r\ndriver_1=placeholder device[;][;][;][;][;][;][;][;][;][;][;]0");
  };
  return s;
}

}  // namespace app

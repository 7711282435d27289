#include "app/placeholder_services.h"

namespace app {

ScanServices PlaceholderServices(ScanUi&, file::FileSystem&) {
  ScanServices s;
  s.WriteLog = [](const std::wstring&) {};  // PLACEHOLDER: activity log
  s.CollectScanData = [] {                  // PLACEHOLDER: driver list + computer info
    return std::wstring(L"\r\ndriver_1=placeholder device[;][;][;][;][;][;][;][;][;][;][;]0");
  };
  s.GetSetupApiLog = [] { return std::wstring(L"Could not find log file"); };  // PLACEHOLDER
  s.OpenDocument = [](const std::wstring&) {};                       // PLACEHOLDER: shell open
  s.ShowSaveDialog = [](const std::wstring&, const std::wstring&) {  // PLACEHOLDER: Save-As
    return std::wstring();
  };
  return s;
}

}  // namespace app
